"""One module of a test suite, run the same way inside the editor and outside it.

Inside, this file is a script in the plug-ins folder's scripts folder and its MpMain runs the
module; outside, /usr/bin/python3.11 runs this file. Either way the module named by
COILHATCH_SUITE_MODULE runs (a CPython test module, "test.test_os", under unittest.main; or,
with COILHATCH_SUITE_KIND=pytest, a test file under pytest.main), and each test's outcome and the
seconds the tests took go, as JSON, to the file COILHATCH_SUITE_RESULT names. With
COILHATCH_SUITE_CLOSE set (the editor with a window), the editor is closed afterwards.
"""

import json
import os
import sys
import time
import unittest

# The resources a test module may use: all but the network, huge files, long computations and a
# terminal, on both sides alike.
RESOURCES = ['decimal', 'subprocess', 'gui', 'walltime', 'tzdata']


def test_id(test):
    """A test's id; some tests keep an attribute of their own named id (test__xxsubinterpreters)."""
    if isinstance(test, unittest.TestCase):
        return unittest.TestCase.id(test)
    return test.id()


class Recording(unittest.TextTestResult):
    """unittest's verbose result, which also keeps each test's outcome."""

    def __init__(self, *args, **kwds):
        super().__init__(*args, **kwds)
        self.rows = {}

    def note(self, test, outcome):
        self.rows[test_id(test)] = outcome

    def addSuccess(self, test):
        super().addSuccess(test)
        self.rows.setdefault(test_id(test), 'ok')

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.note(test, 'FAIL')

    def addError(self, test, err):
        super().addError(test, err)
        self.note(test, 'ERROR')

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.note(test, 'skip')

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.note(test, 'xfail')

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.note(test, 'xpass')

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            failed = issubclass(err[0], test.failureException)
            self.rows[test_id(subtest)] = 'FAIL' if failed else 'ERROR'
            self.rows[test_id(test)] = 'FAIL'


def run_unittest(module):
    from test import support
    support.use_resources = list(RESOURCES)
    runner = unittest.TextTestRunner(stream=sys.stderr, verbosity=2, resultclass=Recording)
    program = unittest.main(module=None, argv=['suite', module], testRunner=runner, exit=False)
    return program.result.rows


def run_pytest(path):
    import pytest

    rows = {}

    class Recorder:
        def pytest_runtest_logreport(self, report):
            if report.when == 'call' or report.outcome != 'passed':
                if hasattr(report, 'wasxfail'):
                    outcome = 'xfail' if report.skipped else 'xpass'
                elif report.when != 'call' and report.failed:
                    outcome = 'error'
                else:
                    outcome = report.outcome
                rows.setdefault(report.nodeid, outcome)

        def pytest_collectreport(self, report):
            if report.failed:
                rows['collect ' + report.nodeid] = 'error'

    pytest.main([path, '-p', 'no:cacheprovider', '-o', 'addopts=', '-q', '-rN'],
                plugins=[Recorder()])
    return rows


def run():
    module = os.environ['COILHATCH_SUITE_MODULE']
    kind = os.environ.get('COILHATCH_SUITE_KIND', 'unittest')
    start = time.perf_counter()
    try:
        rows = run_pytest(module) if kind == 'pytest' else run_unittest(module)
    finally:
        seconds = time.perf_counter() - start
    with open(os.environ['COILHATCH_SUITE_RESULT'], 'w') as result:
        json.dump({'module': module, 'seconds': seconds, 'rows': rows}, result)


def MpMain():
    try:
        run()
    finally:
        if os.environ.get('COILHATCH_SUITE_CLOSE'):
            import MpAPI
            import wx
            wx.CallAfter(MpAPI.CAppManagement_Get().GetAppWindow().Close)


if __name__ == '__main__':
    run()
