#!/usr/bin/python3.11
"""CPython's test suite (and numpy's core tests under pytest), module by module, inside the editor
against outside it.

Each module runs in a process of its own on each side: outside (/usr/bin/python3.11 runs
suite_runner.py), inside in batch mode (marrowpad --batch choosing the runner script from the
Python Script submenu) and inside with the editor's window (the same, without --batch; the
script closes the editor when done). All sides share one virtual display and the same
environment. A module is identical when every test has the same outcome on both sides; the
report lists the modules that differ, with their tests, and the test time of each side (the
seconds the tests themselves took, summed over the modules with a result on every side).

    xvfb-run -a -s "-screen 0 1280x1024x24" bench/suite/compare_suites.py --build build

Needs Debian's libpython3.11-testsuite (and python3-pytest and python3-hypothesis for --numpy). Results are kept in
--out (default: build/suite), one JSON file per module and side, and a run goes on where an
earlier one stopped; --fresh starts again.
"""

import argparse
import concurrent.futures
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PYTHON = '/usr/bin/python3.11'
HERE = pathlib.Path(__file__).resolve().parent
RUNNER = HERE / 'suite_runner.py'
SCRIPT_NAME = 'coilhatch_suite_runner'
SIDES = ('outside', 'batch', 'gui')


def cpython_modules():
    folder = pathlib.Path(PYTHON.replace('/usr/bin/', '/usr/lib/')) / 'test'
    names = []
    for entry in sorted(folder.iterdir()):
        if not entry.name.startswith('test_'):
            continue
        if entry.suffix == '.py':
            names.append(entry.stem)
        elif entry.is_dir() and (entry / '__init__.py').exists():
            names.append(entry.name)
    return [('unittest', 'test.' + name) for name in names]


def numpy_modules():
    import numpy
    folder = pathlib.Path(numpy.__file__).parent / 'core' / 'tests'
    return [('pytest', str(path)) for path in sorted(folder.glob('test_*.py'))]


def plugins_folder(build, root):
    """A plug-ins folder with the plug-in and the runner in its scripts folder."""
    folder = root / 'plugins'
    if folder.exists():
        return folder
    (folder / 'python' / 'scripts').mkdir(parents=True)
    bin_plugins = build / 'bin' / 'plugins'
    os.symlink(bin_plugins / 'Coilhatch.so', folder / 'Coilhatch.so')
    os.symlink(bin_plugins / 'python' / 'autocomplete', folder / 'python' / 'autocomplete')
    shutil.copy(RUNNER, folder / 'python' / 'scripts' / (SCRIPT_NAME + '.py'))
    return folder


def run_one(build, out, kind, module, side, timeout, worker):
    label = module if kind == 'unittest' else 'numpy:' + pathlib.Path(module).stem
    result = out / side / (label.replace('/', '_') + '.json')
    if result.exists():
        return json.loads(result.read_text())
    result.parent.mkdir(parents=True, exist_ok=True)
    # A process that cannot reach the shared display (a busy X server) gets one more try.
    for attempt in range(2):
        record = run_once(build, out, kind, module, side, timeout, worker, label)
        if record['rows'] is not None or 'display connection' not in record.get('log', ''):
            break
    result.write_text(json.dumps(record))
    return record


def run_once(build, out, kind, module, side, timeout, worker, label):
    work = pathlib.Path(tempfile.mkdtemp(prefix='suite-', dir=out / 'work'))
    env = dict(os.environ, NO_AT_BRIDGE='1', COILHATCH_SUITE_MODULE=module,
               COILHATCH_SUITE_KIND=kind, COILHATCH_SUITE_RESULT=str(work / 'result.json'),
               TMPDIR=str(work))
    env.pop('COILHATCH_SUITE_CLOSE', None)
    if side == 'outside':
        command = [PYTHON, str(RUNNER)]
    else:
        plugins = plugins_folder(build, out / 'work' / ('worker%d' % worker))
        command = [str(build / 'bin' / 'marrowpad'), '--plugins-dir', str(plugins), '--select',
                   'Tools/Python Script/' + SCRIPT_NAME]
        if side == 'batch':
            command.insert(1, '--batch')
        else:
            env['COILHATCH_SUITE_CLOSE'] = '1'
    start = time.monotonic()
    with open(work / 'log.txt', 'wb') as log:
        process = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            status = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            status = 'timeout'
    record = {'module': label, 'side': side, 'status': status,
              'wall': time.monotonic() - start}
    try:
        record.update(json.loads((work / 'result.json').read_text()))
        record['module'] = label
    except (OSError, ValueError):
        record['rows'] = None
        record['log'] = (work / 'log.txt').read_bytes()[-4000:].decode('utf-8', 'replace')
    shutil.rmtree(work, ignore_errors=True)
    return record


def differences(outside, inside):
    tests = sorted(set(outside) | set(inside))
    return [(t, outside.get(t, '-'), inside.get(t, '-')) for t in tests
            if outside.get(t) != inside.get(t)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--build', default='build', help='the build folder (bin/marrowpad)')
    parser.add_argument('--out', help='where results are kept (default: BUILD/suite)')
    parser.add_argument('--jobs', type=int, default=2, help='modules run at once')
    parser.add_argument('--timeout', type=float, default=1200, help='seconds per module')
    parser.add_argument('--modules', help='comma-separated CPython modules (test_os,...)')
    parser.add_argument('--numpy', action='store_true', help="numpy's core tests too")
    parser.add_argument('--only-numpy', action='store_true', help="numpy's core tests only")
    parser.add_argument('--sides', default=','.join(SIDES), help='outside,batch,gui')
    parser.add_argument('--fresh', action='store_true', help='forget earlier results')
    args = parser.parse_args()
    # Every side starts as from a terminal: a bench started in the background, where the shell
    # ignores SIGINT for it, would hand that on to every process it starts.
    if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
        signal.signal(signal.SIGINT, signal.default_int_handler)
    if not os.environ.get('DISPLAY'):
        sys.exit('no display: run under xvfb-run (see --help)')
    needed = [] if args.only_numpy else [('test.test_os', 'libpython3.11-testsuite')]
    if args.numpy or args.only_numpy:
        needed += [('pytest', 'python3-pytest'), ('hypothesis', 'python3-hypothesis')]
    missing = [package for module, package in needed if subprocess.run(
        [PYTHON, '-c', 'import ' + module], capture_output=True).returncode != 0]
    if missing:
        sys.exit('needs Debian packages: apt-get install ' + ' '.join(missing))
    build = pathlib.Path(args.build).resolve()
    out = pathlib.Path(args.out).resolve() if args.out else build / 'suite'
    if args.fresh and out.exists():
        shutil.rmtree(out)
    (out / 'work').mkdir(parents=True, exist_ok=True)
    sides = args.sides.split(',')

    modules = [] if args.only_numpy else cpython_modules()
    if args.modules:
        wanted = {'test.' + m for m in args.modules.split(',')}
        modules = [m for m in modules if m[1] in wanted]
    if args.numpy or args.only_numpy:
        modules += numpy_modules()

    results = {side: {} for side in sides}
    jobs = [(kind, module, side) for kind, module in modules for side in sides]
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {}
        for n, (kind, module, side) in enumerate(jobs):
            futures[pool.submit(run_one, build, out, kind, module, side, args.timeout,
                                n % args.jobs)] = side
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            record = future.result()
            results[futures[future]][record['module']] = record
            print('[%d/%d] %-8s %-45s %s' % (done, len(jobs), record['side'], record['module'],
                                             'no result (%s)' % record['status']
                                             if record['rows'] is None
                                             else '%.1f s' % record['seconds']), flush=True)

    outside = results.get('outside', {})
    for side in sides:
        if side == 'outside':
            continue
        inside = results[side]
        both = [m for m in outside if outside[m]['rows'] is not None
                and m in inside and inside[m]['rows'] is not None]
        identical = [m for m in both if not differences(outside[m]['rows'], inside[m]['rows'])]
        everywhere = [m for m in both if all(results[s].get(m, {}).get('rows') is not None
                                             for s in sides)]
        t_out = sum(outside[m]['seconds'] for m in everywhere)
        t_in = sum(inside[m]['seconds'] for m in everywhere)
        print('\n== %s against outside: %d modules, %d with a result on both sides, '
              '%d identical' % (side, len(outside), len(both), len(identical)))
        print('test time: outside %.0f s, %s %.0f s, ratio %.3f (over %d modules)'
              % (t_out, side, t_in, t_in / t_out if t_out else 0, len(everywhere)))
        for m in sorted(set(outside) | set(inside)):
            if m not in both:
                o, i = outside.get(m), inside.get(m)
                print('  no result: %s (outside %s, %s %s)' % (
                    m, 'ok' if o and o['rows'] is not None else o and o['status'], side,
                    'ok' if i and i['rows'] is not None else i and i['status']))
        for m in both:
            if m in identical:
                continue
            diff = differences(outside[m]['rows'], inside[m]['rows'])
            print('  differs: %s (%d tests)' % (m, len(diff)))
            for test, o, i in diff[:10]:
                print('      %s: outside %s, %s %s' % (test, o, side, i))


if __name__ == '__main__':
    main()
