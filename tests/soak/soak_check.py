#!/usr/bin/env python3
"""The script side of the soak (soak_test.sh): what it asks of the service,
the screen and the agent's process, and the checks at the end.

    soak_check.py converge NAME SECONDS SHOTS_DIR [ICON]
        until the tray icon on the screen ($DISPLAY) is the one the service's
        state calls for (and that is ICON, when given), the state read before
        and after the screenshot so that one that changed meanwhile does not
        count; prints "converged NAME S" or "FAIL ..." and the exit code says
        which. The seconds count from $CONVERGE_SINCE (Unix time) when set.
    soak_check.py collect SINCE OUT.jsonl
        the service's upload requests logged after SINCE, finished ones
        appended to OUT.jsonl; prints the SINCE for the next call
    soak_check.py transfers-done SECONDS
        waits until the service transfers nothing
    soak_check.py process PID
        "THREADS POOL_THREADS PRIVATE_DIRTY_KIB" of a Linux process: its
        threads but Wine's thread-pool workers, which Wine starts on demand
        and ends after a while idle, those workers, and its private memory
    soak_check.py uploads DRIVER_OUT UPLOADS.jsonl FILES_DIR CLOUD_DIR
        every upload the service accepted arrived whole; every one made
        while the service was well, and every Send To run that ended with 0,
        was accepted; none was sent twice
    soak_check.py growth SAMPLES WARMUP_S MIN_SPAN_S LIMIT_PERCENT BYTES_PER_REQUEST
        handles and threads after the warm-up (the lowest of its first and of
        its last minute), private memory as the slope of a fit to all samples
        after it that also fits what each of Wine's pool threads holds, less
        what Wine's WinINet keeps for each of the agent's requests
        (BYTES_PER_REQUEST, measured in the driver)
"""
import json
import os
import re
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import tray_screen  # noqa: E402

API = 'http://127.0.0.1:9333'


def fetch(path, timeout=5):
    with urllib.request.urlopen(API + path, timeout=timeout) as reply:
        return reply.read()


def service_state():
    try:
        return json.loads(fetch('/sim/state'))
    except Exception:
        return None


def expected_icon(state):
    """The tray picture the agent must end up showing for this state."""
    if state is None or state['login'] != 'logged_in':
        return '26'
    return {'progress': '25', 'completed': '23'}.get(state['transferstatus'], '21')


def screen_icon(shot):
    # A window that goes while xwd reads the screen fails it (BadDrawable):
    # read again.
    for attempt in range(5):
        with open(shot, 'wb') as out:
            done = subprocess.run(['xwd', '-root', '-silent', '-display', os.environ['DISPLAY']], stdout=out)
        if done.returncode == 0:
            break
        time.sleep(0.2)
    else:
        raise RuntimeError('xwd failed five times')
    return tray_screen.classify(tray_screen.icon_cell(tray_screen.read_xwd(shot, tray_screen.LAST_ROWS)[2]))


def converge(name, seconds, shots, only=None):
    # A pointer left on the icon would bring its tooltip over it.
    subprocess.run(['xdotool', 'mousemove', '600', '300'], check=False)
    start = float(os.environ.get('CONVERGE_SINCE') or time.time())
    shot = os.path.join(shots, 'converge.xwd')
    icon = want = None
    while True:
        before = expected_icon(service_state())
        icon = screen_icon(shot)
        want = expected_icon(service_state())
        took = time.time() - start
        if icon == before == want and only in (None, want):
            print(f'converged {name} {took:.1f}')
            return 0
        if took > seconds:
            os.replace(shot, os.path.join(shots, f'not-converged-{name}.xwd'))
            print(f'FAIL {name}: the icon is {icon}, the service calls for {want}'
                  f'{"" if only is None else ", the test for " + only} after {took:.0f} s')
            return 1
        time.sleep(0.2)


def collect(since, out_path):
    entries = json.loads(fetch(f'/sim/log?since={since}', timeout=30))
    pending = [e['seq'] for e in entries if e['status'] == 0]
    done = [e for e in entries if e['status'] != 0 and (not pending or e['seq'] < min(pending))]
    with open(out_path, 'a', encoding='utf-8') as out:
        for entry in done:
            if entry['request'] == 'filetransfer':
                out.write(json.dumps(entry) + '\n')
    if pending:
        print(min(pending) - 1)
    elif entries:
        print(max(e['seq'] for e in entries))
    else:
        print(since)


def transfers_done(seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        state = service_state()
        if state and state['transferstatus'] in ('idle', 'completed'):
            return 0
        time.sleep(0.3)
    print('the service was still transferring')
    return 1


def process(pid):
    threads = pool = 0
    for task in os.listdir(f'/proc/{pid}/task'):
        try:
            with open(f'/proc/{pid}/task/{task}/comm') as comm:
                name = comm.read().strip()
        except OSError:
            continue  # ended meanwhile
        if name.startswith('wine_threadpool'):
            pool += 1
        else:
            threads += 1
    private = None
    with open(f'/proc/{pid}/smaps_rollup') as rollup:
        for line in rollup:
            if line.startswith('Private_Dirty:'):
                private = int(line.split()[1])
    print(threads, pool, private)


NAME = re.compile(r'soak-[0-9]+-(?:calm|fault)-(?:drop|virtual|sendto)\.bin')


def same_bytes(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, 'rb') as x, open(b, 'rb') as y:
        return x.read() == y.read()


def uploads(driver_out, uploads_path, files, cloud):
    attempts = []
    for line in open(driver_out, encoding='utf-8', errors='replace'):
        parts = line.strip().split()
        if len(parts) == 5 and parts[0] == 'upload':
            attempts.append(dict(zip(('name', 'how', 'phase', 'outcome'), parts[1:])))
    requested, accepted = {}, set()
    for line in open(uploads_path, encoding='utf-8') if os.path.exists(uploads_path) else []:
        entry = json.loads(line)
        body = bytes.fromhex(entry['body_hex']).decode('utf-8', 'replace')
        for name in NAME.findall(body):
            requested[name] = requested.get(name, 0) + 1
            if 200 <= entry['status'] < 300:
                accepted.add(name)
    checks = []

    def check(passed, text, detail=''):
        checks.append(passed)
        print(('ok   ' if passed else 'FAIL ') + text + (f': {detail}' if detail and not passed else ''))

    calm = [a for a in attempts if a['phase'] == 'calm']
    missing = [a['name'] for a in calm if a['name'] not in accepted]
    check(calm and not missing, f'every upload made while the service was well was accepted ({len(calm)})',
          ' '.join(missing) or 'none made')
    sent_ok = [a for a in attempts if a['how'] == 'sendto' and a['outcome'] == 'exit=0']
    lying = [a['name'] for a in sent_ok if a['name'] not in accepted]
    check(not lying, f'every Send To run that ended with 0 was accepted ({len(sent_ok)})', ' '.join(lying))
    twice = [name for name, count in requested.items() if count > 1]
    check(not twice, 'no upload was sent twice', ' '.join(twice))
    broken = []
    for name in sorted(accepted):
        source = os.path.join(files, name)
        if not os.path.exists(source):
            source = os.path.join(files, 'virtual', name)
        copy = os.path.join(cloud, name)
        if not (os.path.exists(copy) and same_bytes(source, copy)):
            broken.append(name)
    check(accepted and not broken, f'every accepted upload is in the cloud folder, byte for byte ({len(accepted)})',
          ' '.join(broken) or 'none accepted')
    fault = [a for a in attempts if a['phase'] == 'fault']
    print(f'figure uploads_made {len(attempts)}')
    print(f'figure uploads_made_while_well {len(calm)}')
    print(f'figure uploads_made_during_faults {len(fault)}')
    print(f'figure uploads_accepted {len(accepted)}')
    print(f'figure uploads_accepted_during_faults {sum(1 for a in fault if a["name"] in accepted)}')
    print(f'figure uploads_arrived {len(accepted) - len(broken)}')
    return 0 if all(checks) else 1


def least_squares(rows, values):
    """The coefficients that fit values best as sums of rows' columns times them."""
    n = len(rows[0])
    m = [[sum(r[i] * r[j] for r in rows) for j in range(n)] for i in range(n)]
    v = [sum(r[i] * y for r, y in zip(rows, values)) for i in range(n)]
    for c in range(n):
        pivot = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[pivot], v[c], v[pivot] = m[pivot], m[c], v[pivot], v[c]
        if m[c][c] == 0:
            return None
        for r in range(n):
            if r != c:
                f = m[r][c] / m[c][c]
                m[r] = [a - f * b for a, b in zip(m[r], m[c])]
                v[r] -= f * v[c]
    return [v[i] / m[i][i] for i in range(n)]


def growth(samples_path, warmup, min_span, limit, per_request):
    samples = []
    for line in open(samples_path):
        t, handles, threads, private, _, pool, requests = line.split()[:7]
        samples.append((float(t), int(handles), int(threads), int(private), int(pool), int(requests)))
    after = [s for s in samples if s[0] >= warmup]
    span = after[-1][0] - after[0][0] if len(after) >= 2 else 0
    if span < min_span:
        print(f'note growth not checked: {span:.0f} s of samples after the {warmup:.0f} s warm-up, '
              f'{min_span:.0f} s needed')
        if samples:
            first, last = samples[0], samples[-1]
            for i, name in enumerate(('handles', 'threads', 'private_dirty_kib'), 1):
                print(f'figure {name}_first_last {first[i]} {last[i]}')
        return 0
    failed = False

    def verdict(name, start, end, per_ten):
        nonlocal failed
        print(f'figure {name} warm-up-end {start:.0f} end {end:.0f} growth-per-10-min {per_ten:.2f}%')
        failed |= per_ten >= limit
        print(('ok   ' if per_ten < limit else 'FAIL ') +
              f'{name} grow by less than {limit}% per ten minutes ({per_ten:.2f}%)')

    # Counts: the lowest of the first and of the last minute, so that a
    # handle or thread of the moment does not count and a leaked one does.
    first_window = [s for s in after if s[0] <= after[0][0] + 60]
    last_window = [s for s in after if s[0] >= after[-1][0] - 60]
    for i, name in ((1, 'handles'), (2, 'threads')):
        start, end = min(s[i] for s in first_window), min(s[i] for s in last_window)
        verdict(name, start, end, (end - start) / start * 100 * 600 / span)
    # Memory: the slope over time of a fit to every sample, with what each
    # of Wine's pool threads holds while it lives (about a megabyte) fitted
    # too, and what WinINet keeps per request taken out first.
    pools_vary = len({s[4] for s in after}) > 1
    rows = [(1.0, s[0], s[4]) if pools_vary else (1.0, s[0]) for s in after]
    raw = least_squares(rows, [s[3] for s in after])
    fit = least_squares(rows, [s[3] - s[5] * per_request / 1024 for s in after])
    if raw is None or fit is None:
        print('FAIL private memory: the samples cannot be fitted')
        return 1
    base = fit[0] + fit[1] * after[0][0]
    pool_cost = f'per pool thread {fit[2]:.0f} KiB' if pools_vary else 'pool threads never changed'
    print(f'figure private_dirty_kib {pool_cost}; raw slope {raw[1] * 600:.0f} KiB '
          f'per 10 min ({raw[1] * 600 / base * 100:.2f}%); {after[-1][5] - after[0][5]} requests at '
          f'{per_request:.0f} bytes each in Wine\'s WinINet')
    verdict('private_dirty_kib', base, base + fit[1] * span, fit[1] * 600 / base * 100)
    return 1 if failed else 0


def main(argv):
    command = argv[1] if len(argv) > 1 else ''
    if command == 'converge' and len(argv) in (5, 6):
        return converge(argv[2], float(argv[3]), argv[4], argv[5] if len(argv) == 6 else None)
    if command == 'collect' and len(argv) == 4:
        return collect(int(argv[2]), argv[3])
    if command == 'transfers-done' and len(argv) == 3:
        return transfers_done(float(argv[2]))
    if command == 'process' and len(argv) == 3:
        return process(argv[2])
    if command == 'uploads' and len(argv) == 6:
        return uploads(*argv[2:])
    if command == 'growth' and len(argv) == 7:
        return growth(argv[2], float(argv[3]), float(argv[4]), float(argv[5]), float(argv[6]))
    raise SystemExit(__doc__)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
