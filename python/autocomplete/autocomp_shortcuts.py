"""Shortcuts through jedi and pyflakes: their own answers, for less of their work.

- jedi, asked for the names after "obj.sc" (or for a bare "sc"), works out every name that the
  scopes in view define, following the flow of control to each (and, for self's attributes,
  where self comes from), and only then keeps those that start with "sc". With the shortcut, a
  completion's scopes work out only the names that can match what is typed: a half to a third
  of the time.
- pyflakes tokenizes the whole text, and walks its whole tree, to find type comments
  ("# type: int") alone. A text without one is checked without them: half the time.

Each shortcut goes in only over the code it was written against (the functions it stands in
for, as jedi 0.18.2 and pyflakes 2.5.0 have them): with another version the library does its
own work, and the answers are the same either way. The jedi shortcut leans on more of jedi than
the functions it replaces, so it also proves itself when it goes in: a few completions made with
it and without it must agree, else it stays out. At its first fault jedi's own functions are put
back for good (the completion under way is made again by them), and take_notice() says so once.
"""

import collections
import hashlib
import inspect
import re


def _source_is(function, digest):
    """Whether a function's source is the one whose SHA-256 begins with digest."""
    try:
        source = inspect.getsource(function)
    except (OSError, TypeError):
        return False
    return hashlib.sha256(source.encode("utf-8")).hexdigest().startswith(digest)


# -- jedi ------------------------------------------------------------------------------------

# The word typed before the caret of the completion under way (lower-cased when jedi matches
# without case), or None; and the same word while a scope of that completion is asked for its
# names, for the filters that read a syntax tree to see, or None. The server asks jedi one
# thing at a time.
_word = None
_typed = None


# False: the jedi shortcut is not put in (a worker started after it failed in another).
enabled = True
# Set once the shortcut has failed: a sentence for the user, until take_notice() takes it.
_notice = None
# jedi's own functions that the shortcut replaced, to put back: (owner, name, function).
_replaced = []

# jedi's internals that the shortcut calls beyond the functions it replaces.
_LEANS_ON = (
    "get_user_context", "get_flow_scope_node", "get_global_filters", "convert_values",
    "TreeInstance", "_complete_getattr", "debug",
)

# Completions made with the shortcut and without it when it goes in: (text, line, column).
_PROOF_TEXT = """\
class Base:
    scale = 1
    SCALE_MAX = 9
    def __init__(self):
        self.scan = 1
    def _scold(self): self.sc
base = Base()
base.sc
base.SC
Ba
"""
_PROOFS = ((6, 29), (8, 7), (9, 7), (10, 2))


def take_notice():
    """What the user is to be told of the shortcut, once; None when nothing."""
    global _notice
    notice, _notice = _notice, None
    return notice


# Whether the jedi shortcut failed and was taken out.
_failed = False


def failed():
    return _failed


def _put(owner, name, function):
    _replaced.append((owner, name, getattr(owner, name)))
    setattr(owner, name, function)


def _put_back():
    while _replaced:
        owner, name, function = _replaced.pop()
        setattr(owner, name, function)


def _names(jedi):
    environment = jedi.InterpreterEnvironment()
    found = []
    for line, column in _PROOFS:
        script = jedi.Script(code=_PROOF_TEXT, environment=environment)
        found.append(sorted(c.name for c in script.complete(line, column)))
    return found


def install_jedi(jedi):
    """Puts the completion shortcut into jedi; False when its code is not the one known, or it
    does not give jedi's own answers."""
    global _notice
    if not enabled or _replaced:
        return False
    try:
        from jedi.api import completion
        from jedi.inference import filters
    except ImportError:
        return False
    tree_filter = getattr(filters, "_AbstractUsedNamesFilter", None)
    if (
        tree_filter is None
        or not all(hasattr(completion, name) for name in _LEANS_ON)
        or not hasattr(filters, "_get_definition_names")
        or not _source_is(completion.complete_trailer, "e07f7c8ec750c8dc")
        or not _source_is(completion.Completion._complete_global_scope, "1bb399f8cf112693")
        or not _source_is(tree_filter.values, "7b90a9355c255352")
    ):
        return False
    settings = jedi.settings
    jedis_complete = completion.Completion.complete
    jedis_values = tree_filter.values
    definition_names = filters._get_definition_names

    def complete(self):
        global _word, _notice, _failed
        like = getattr(self, "_like_name", "")
        word = None
        if like and not getattr(self, "_fuzzy", True):
            word = like.lower() if settings.case_insensitive_completion else like
        outer, _word = _word, word
        try:
            return jedis_complete(self)
        except Exception as error:
            if not _replaced:
                raise  # out already: jedi's own fault
            _put_back()
            try:
                found = jedis_complete(self)
            except Exception:
                install_again()  # jedi fails by itself too: not the shortcut's fault
                raise
            _failed = True
            _notice = (
                "Python completion: the shortcut through jedi failed (%s: %s) and is left out; "
                "jedi's own completion is used from now on." % (type(error).__name__, error)
            )
            return found
        finally:
            _word = outer

    def names_of(scope_filter):
        """A scope's names, with the typed word known to the first tree filter reached: the
        filters that wrap it (an instance's around its class's) only pass the names on."""
        global _typed
        outer, _typed = _typed, _word
        try:
            return scope_filter.values()
        finally:
            _typed = outer

    def values(self):
        global _typed
        typed = _typed
        if typed is None:
            return jedis_values(self)
        # What the filter works out on the way (the flow of control, where self comes from)
        # asks for whole lists.
        _typed = None
        try:
            fold = settings.case_insensitive_completion
            keys = [k for k in self._used_names if (k.lower() if fold else k).startswith(typed)]
            return self._convert_names(
                name
                for key in keys
                for name in self._filter(
                    definition_names(self._parso_cache_node, self._used_names, key)
                )
            )
        finally:
            _typed = typed  # for the next filter a wrapper merges

    def complete_trailer(user_context, values_):
        # jedi's own but for how each scope is asked for its names.
        completion_names = []
        for value in values_:
            for scope_filter in value.get_filters(origin_scope=user_context.tree_node):
                completion_names += names_of(scope_filter)
            if not value.is_stub() and isinstance(value, completion.TreeInstance):
                completion_names += completion._complete_getattr(user_context, value)
        python_values = completion.convert_values(values_)
        for c in python_values:
            if c not in values_:
                for scope_filter in c.get_filters(origin_scope=user_context.tree_node):
                    completion_names += names_of(scope_filter)
        return completion_names

    def complete_global_scope(self):
        # jedi's own but for how each scope is asked for its names.
        context = completion.get_user_context(self._module_context, self._position)
        completion.debug.dbg("global completion scope: %s", context)
        flow_scope_node = completion.get_flow_scope_node(self._module_node, self._position)
        filters = completion.get_global_filters(context, self._position, flow_scope_node)
        completion_names = []
        for scope_filter in filters:
            completion_names += names_of(scope_filter)
        return completion_names

    def install_again():
        _put(completion.Completion, "complete", complete)
        _put(completion.Completion, "_complete_global_scope", complete_global_scope)
        _put(completion, "complete_trailer", complete_trailer)
        _put(tree_filter, "values", values)

    try:
        without = _names(jedi)
        install_again()
        agree = _names(jedi) == without
    except Exception:
        agree = False
    if not agree:
        _put_back()
        _notice = (
            "Python completion: the shortcut through jedi is left out: its answers differ from "
            "jedi's own."
        )
    return agree


# -- pyflakes --------------------------------------------------------------------------------

# Where a type comment can be: a comment whose text pyflakes matches with ^#\s*type:\s* .
_TYPE_COMMENT = re.compile(r"#\s*type:")


def install_pyflakes(checker):
    """Puts the check shortcut into pyflakes' checker module; False when its code is not the
    one known."""
    if (
        getattr(checker, "_shortcut", False)
        or getattr(getattr(checker, "TYPE_COMMENT_RE", None), "pattern", None) != r"^#\s*type:\s*"
        or not _source_is(getattr(checker, "make_tokens", None), "ec8aae10533fe136")
        or not _source_is(getattr(checker, "_collect_type_comments", None), "da2bc6cecfa21165")
    ):
        return False
    pyflakes_tokens = checker.make_tokens
    pyflakes_type_comments = checker._collect_type_comments

    def make_tokens(code):
        # The tokens are read for type comments alone.
        if isinstance(code, str) and not _TYPE_COMMENT.search(code):
            return ()
        return pyflakes_tokens(code)

    def collect_type_comments(tree, tokens):
        if not tokens:
            return collections.defaultdict(list)  # what the walk would find without tokens
        return pyflakes_type_comments(tree, tokens)

    checker.make_tokens = make_tokens
    checker._collect_type_comments = collect_type_comments
    checker._shortcut = True
    return True
