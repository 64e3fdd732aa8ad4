#!/usr/bin/env python3
"""53 hand-made save files against the real game (kv-sim, headless).

Every case must start and close without crashing, within 2 s of CPU time
(the program's own, so a loaded machine does not make it fail; a start that
waits instead of working is caught by a generous wall-clock bound). A damaged
file must be kept byte for byte as my.dat.bad and replaced by a clean 24-line
file that loads cleanly the next time; what is not a readable regular file (folder,
FIFO, device, no permission, a link to nothing) must be left exactly as it was.
"""
import argparse, os, random, resource, shutil, signal, stat, subprocess, sys, tempfile, time

CLEAN = ["-1400", "100", "200", "name", "77", "ce", "1", "2", "ch", "3", "4", "cx",
         "5", "6", "cn", "7", "8", "cs", "9", "10", "cl", "11", "12", "chl"]


def save(lines, end=b"\r\n"):
    return b"".join((l.encode("cp932") if isinstance(l, str) else l) + end for l in lines)


def with_line(n, value):
    lines = list(CLEAN)
    lines[n - 1] = value
    return save(lines)


def cases():
    rnd = random.Random(16)
    clean = save(CLEAN)
    c = []  # (name, kind, content): kind damaged / clean / left; content bytes or a maker
    for cut in (0, 1, 5, 11, 20, 40, 60, clean.rindex(b"\r\n", 0, len(clean) - 2) + 2):
        c.append(("truncated at %d" % cut, "damaged", clean[:cut]))
    c.append(("truncated inside CR LF", "damaged", clean[:clean.index(b"\r\n", 30) + 1]))
    for n in (16, 256, 4096):
        c.append(("binary %d bytes" % n, "damaged", bytes(rnd.randrange(256) for _ in range(n))))
    c += [("all 0xFF", "damaged", b"\xff" * 500), ("all NUL", "damaged", b"\0" * 500),
          ("UTF-16", "damaged", b"\xff\xfe" + "\r\n".join(CLEAN).encode("utf-16-le"))]
    c += [("65 KB of junk", "damaged", b"x" * (65 * 1024 + 1)),
          ("a million lines", "damaged", b"0\r\n" * 1000000),
          ("clean then 10 MB", "damaged", clean + b"7" * (10 << 20)),
          ("20 MB random", "damaged", os.urandom(20 << 20))]
    c += [("23 lines", "damaged", save(CLEAN[:23])), ("25 lines", "damaged", clean + b"\r\n"),
          ("26 lines", "damaged", clean + b"x\r\ny\r\n"), ("100 lines", "damaged", clean + b"0\r\n" * 76),
          ("1 line", "damaged", b"-600\r\n"), ("CR only", "clean", save(CLEAN, b"\r")),
          ("LF only", "clean", save(CLEAN, b"\n"))]
    c += [("lone lead byte in the name", "damaged", with_line(4, b"ab\x81")),
          ("lead byte then space", "damaged", with_line(6, b"\x81 x")),
          ("bytes 0xFD-0xFF", "damaged", with_line(9, b"\xfd\xfe\xff")),
          ("bad second byte", "damaged", with_line(12, b"\x88\x7f")),
          ("half-width kana (valid)", "clean", with_line(4, b"\xb1\xb2\xb3")),
          ("Japanese name (valid)", "clean", with_line(4, "はなこ"))]
    for n, v in ((1, "-2147483648"), (1, "5000"), (1, "-300"), (2, "-1"), (7, "-5"),
                 (5, "-1"), (5, "10000"), (10, "2147483648"), (13, "99999999999"),
                 (4, "1234567890123"), (24, "x" * 31), (15, b"a\0b")):
        c.append(("line %d = %r" % (n, v), "damaged", with_line(n, v)))
    c += [("a folder", "left", "dir"), ("a FIFO", "left", "fifo"), ("no permission", "left", "noperm"),
          ("a link to nothing", "left", "dangling"), ("a link to /dev/zero", "left", "devzero"),
          ("a link to a folder", "left", "dirlink")]
    c += [("clean", "clean", clean), ("widest values", "clean", with_line(2, "2147483647")),
          ("missing", "clean", None)]
    return c


def make(path, content):
    if content is None:
        return
    if isinstance(content, bytes):
        with open(path, "wb") as f:
            f.write(content)
    elif content == "dir":
        os.mkdir(path)
    elif content == "fifo":
        os.mkfifo(path)
    elif content == "noperm":
        with open(path, "wb") as f:
            f.write(save(CLEAN))
        os.chmod(path, 0)
    elif content == "dangling":
        os.symlink("/nonexistent/kv-save", path)
    elif content == "devzero":
        os.symlink("/dev/zero", path)
    elif content == "dirlink":
        os.symlink("/", path)


def snapshot(path):
    st = os.lstat(path)
    data = open(path, "rb").read() if stat.S_ISREG(st.st_mode) and os.access(path, os.R_OK) else None
    return (stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode), os.readlink(path) if stat.S_ISLNK(st.st_mode) else None, data)


# CPU seconds a start may take, and the wall-clock seconds after which a start
# that is waiting (on a FIFO, a device) is taken for hung.
CPU_LIMIT = 2.0
HANG_LIMIT = 30.0


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run(sim, game_dir, data, script, as_user):
    """(exit status or None when hung, CPU seconds, wall seconds, stderr). The
    CPU time is that of every process the run waited for (runuser's child too)."""
    cmd = [sim, "--game-dir", game_dir, "--data-dir", data, "--frames", "3", "--script", script]
    if as_user:
        cmd = ["runuser", "-u", as_user, "--"] + cmd
    cpu0, t0 = children_cpu(), time.monotonic()
    # A group of its own, so a hung run is stopped whole (runuser's child too).
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    try:
        _, err = p.communicate(timeout=HANG_LIMIT)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        return None, children_cpu() - cpu0, time.monotonic() - t0, b"hung"
    return p.returncode, children_cpu() - cpu0, time.monotonic() - t0, err


def as_nobody(*cmd):
    return subprocess.run(["runuser", "-u", "nobody", "--"] + list(cmd), capture_output=True, timeout=30).returncode == 0


def reachable_by_nobody(root, sim, game_dir):
    """Where a case run as nobody can live: a folder nobody can enter, with a
    kv-sim and game folder it can run and read. The checkout may sit in a
    folder only root may enter (/root, a mode-700 folder): then the program and
    the game's files are copied."""
    base = root
    if not as_nobody("test", "-x", base):
        base = tempfile.mkdtemp(prefix="kv-torture-nobody.", dir="/tmp")
        os.chmod(base, 0o755)
    script = os.path.join(base, "close-as-nobody.txt")
    with open(script, "w") as f:
        f.write("2 close\n")
    os.chmod(script, 0o644)
    probe = os.path.join(base, "probe")
    os.mkdir(probe)
    os.chown(probe, 65534, 65534)
    if as_nobody(sim, "--game-dir", game_dir, "--data-dir", probe, "--frames", "1"):
        return base, sim, game_dir, script
    copy = os.path.join(base, "game")
    for sub in ("cg", "dat"):
        shutil.copytree(os.path.join(game_dir, sub), os.path.join(copy, sub),
                        ignore=shutil.ignore_patterns("my.dat*", "ranking.db*", "server.txt", "replays"))
    shutil.copy2(sim, os.path.join(copy, "kv-sim"))
    for d, _, files in os.walk(copy):
        os.chmod(d, 0o755)
        for f in files:
            os.chmod(os.path.join(d, f), 0o755 if f == "kv-sim" else 0o644)
    return base, os.path.join(copy, "kv-sim"), copy, script


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sim", required=True)
    ap.add_argument("--game-dir", required=True)
    a = ap.parse_args()
    root = tempfile.mkdtemp(prefix="kv-torture.")
    os.chmod(root, 0o755)
    script = os.path.join(root, "close.txt")
    with open(script, "w") as f:
        f.write("2 close\n")
    failures, skipped, slowest, slowest_wall, hung = [], [], 0.0, 0.0, 0
    all_cases = cases()
    assert len(all_cases) == 53, len(all_cases)
    nobody = None  # (folder, kv-sim, game folder, script) for the cases run as nobody
    try:
        for i, (name, kind, content) in enumerate(all_cases):
            # root reads anything: the unreadable file's case runs as nobody, who
            # owns the folder but may not read the file
            as_user = "nobody" if content == "noperm" and os.getuid() == 0 else None
            if as_user and not shutil.which("runuser"):
                skipped.append(name + " (running as root and runuser is missing)")
                continue
            if as_user and nobody is None:
                nobody = reachable_by_nobody(root, a.sim, a.game_dir)
            base, sim, game_dir, case_script = nobody if as_user else (root, a.sim, a.game_dir, script)
            data = os.path.join(base, "case%02d" % i)
            os.mkdir(data)
            path = os.path.join(data, "my.dat")
            make(path, content)
            if as_user:
                for p in (data, path):
                    os.lchown(p, 65534, 65534)
            before = snapshot(path) if content is not None else None
            rc, secs, wall, err = run(sim, game_dir, data, case_script, as_user)
            slowest, slowest_wall = max(slowest, secs), max(slowest_wall, wall)
            bad = os.path.join(data, "my.dat.bad")
            def fail(why):
                failures.append("%s: %s (%s)" % (name, why, err.decode(errors="replace").strip()[-200:]))
            if rc is None:
                fail("still running after %.0f s" % wall)
                hung += 1
                if hung == 2:  # the rest would only wait as long again, past the test's time limit
                    failures.append("stopped after two hung starts")
                    break
                continue
            if rc != 0:
                fail("exit status %s" % rc); continue
            if secs > CPU_LIMIT:
                fail("took %.2f s of CPU" % secs); continue
            if kind == "damaged":
                if not os.path.exists(bad) or open(bad, "rb").read() != content:
                    fail("not kept byte for byte as my.dat.bad"); continue
            elif os.path.lexists(bad):
                fail("my.dat.bad written for a file that is not damaged"); continue
            if kind == "left":
                if snapshot(path) != before:
                    fail("the file was changed"); continue
                continue
            now = open(path, "rb").read()
            if now.count(b"\r\n") != 24 or not now.endswith(b"\r\n"):
                fail("the rewritten file is not 24 CR LF lines"); continue
            kept = open(bad, "rb").read() if os.path.exists(bad) else None
            rc, secs, wall, err = run(sim, game_dir, data, case_script, None)
            again = open(bad, "rb").read() if os.path.exists(bad) else None
            if rc != 0 or b"damaged" in err or again != kept:
                fail("the rewritten file does not load cleanly")
    finally:
        for folder in {root, nobody[0] if nobody else root}:
            for dirpath, dirs, files in os.walk(folder):
                for d in dirs:
                    p = os.path.join(dirpath, d)
                    if not os.path.islink(p):
                        os.chmod(p, 0o755)
            shutil.rmtree(folder, ignore_errors=True)
    for s in skipped:
        print("save torture: skipped:", s)
    for f in failures:
        print("save torture: FAIL:", f)
    print("save torture: %d cases, %d failed, %d skipped, slowest start %.2f s of CPU (%.2f s of wall clock)"
          % (len(all_cases), len(failures), len(skipped), slowest, slowest_wall))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
