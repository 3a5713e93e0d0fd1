"""Warms the completion engine once the plug-in is loaded.

MpMain returns at once: jedi is imported and run for the first time in a daemon thread, so that
the first completion request does not pay for it, and the editor is not held meanwhile.
"""

import autocomp_core


def MpMain():
    autocomp_core.warm_up_in_editor()
