#!/usr/bin/python3
"""Times Kestrn against the cost of starting any process and against the
usual ways of asking "is this file in use?", on a machine with 0 to 4000
other processes, each holding a few files open.

Run as root (it starts the holders as user nobody and runs the fallback
path as nobody), best through the build:  cmake --build --preset bench
Writes bench/results.md (the table) and bench/results.png (the plot)."""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

COUNTS = [0, 250, 1000, 4000]
NOBODY = ["/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
HOLDER_LIFETIME = "600"  # seconds: holders end by themselves even if we die


def need_packages():
    missing = [pkg for tool, pkg in [("fuser", "psmisc"), ("lsof", "lsof"), ("flock", "util-linux")]
               if shutil.which(tool) is None]
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        missing.append("python3-matplotlib")
    if missing:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "update", "-q"], check=True, env=env)
        subprocess.run(["apt-get", "install", "-y", "-q", *missing], check=True, env=env)


def run_timed(timer, argv, repeats):
    """Wall times (ms) and peak resident memory (KiB) of whole processes,
    taken by a small C program so that this interpreter does not show."""
    out = subprocess.run([timer, str(repeats)] + argv, check=True, capture_output=True,
                         text=True).stdout
    runs = [line.split() for line in out.splitlines()]
    return [int(r[0]) / 1e6 for r in runs], max(int(r[1]) for r in runs)


def start_holders(count, workdir):
    """count processes of user nobody, each with three files open."""
    files = []
    for i in range(16):
        path = os.path.join(workdir, f"held-{i}")
        with open(path, "w") as f:
            f.write("x" * 4096)
        os.chmod(path, 0o644)
        files.append(path)
    holders = []
    try:
        for i in range(count):
            fds = [os.open(files[(i + k) % len(files)], os.O_RDONLY) for k in range(3)]
            holders.append(subprocess.Popen(["/bin/sleep", HOLDER_LIFETIME], stdin=fds[0],
                                            pass_fds=fds[1:], user="nobody", group="nogroup",
                                            extra_groups=[], stdout=subprocess.DEVNULL))
            for fd in fds:
                os.close(fd)
    except BaseException:
        stop_holders(holders)
        raise
    return holders


def stop_holders(holders):
    for p in holders:
        p.send_signal(signal.SIGKILL)
    for p in holders:
        p.wait()


def commands(tool, target):
    lease = {
        "/bin/true": ["/bin/true"],
        "Kestrn": [tool, target],
        "fuser -s": [shutil.which("fuser"), "-s", target],
        "lsof": [shutil.which("lsof"), "-w", target],
        "flock -n": [shutil.which("flock"), "-n", target, "/bin/true"],
    }
    fallback = {
        "nobody: /bin/true": NOBODY + ["/bin/true"],
        "nobody: Kestrn": NOBODY + [tool, target],
        "nobody: fuser -s": NOBODY + [shutil.which("fuser"), "-s", target],
    }
    return lease, fallback


def measure(timer, cmds, rounds, quick_repeats):
    """Interleaved: every round runs every command, rotating the order."""
    samples = {name: [] for name in cmds}
    peaks = {name: 0 for name in cmds}
    names = list(cmds)
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            repeats = 1 if ("fuser" in name or "lsof" in name) else quick_repeats
            times, peak = run_timed(timer, cmds[name], repeats)
            samples[name] += times
            peaks[name] = max(peaks[name], peak)
    return {name: statistics.median(v) for name, v in samples.items()}, peaks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--timer", required=True, help="the built bench/timer.cpp")
    parser.add_argument("--out", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--counts", default=",".join(map(str, COUNTS)))
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("run as root: the holders and the fallback path run as user nobody")
    need_packages()

    counts = [int(c) for c in args.counts.split(",")]
    workdir = tempfile.mkdtemp(prefix="kestrn-bench-")
    os.chmod(workdir, 0o755)
    tool = os.path.join(workdir, "Kestrn")  # where nobody can reach it
    shutil.copy(args.tool, tool)
    target = os.path.join(workdir, "target.dat")  # root's, free: scanners must look at everything
    with open(target, "w") as f:
        f.write("data\n")
    os.chmod(target, 0o644)

    results = {}
    try:
        for count in counts:
            holders = start_holders(count, workdir)
            try:
                time.sleep(0.5)
                lease, fallback = commands(tool, target)
                medians, peaks = measure(args.timer, lease, args.rounds, 10)
                f_medians, f_peaks = measure(args.timer, fallback, args.rounds, 3)
                medians.update(f_medians)
                peaks.update(f_peaks)
                results[count] = (medians, peaks)
                print(f"{count} processes: " +
                      ", ".join(f"{k} {v:.3f} ms" for k, v in medians.items()), flush=True)
            finally:
                stop_holders(holders)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    report(results, args.out)


def report(results, out):
    counts = sorted(results)
    names = list(results[counts[0]][0])
    lines = ["| command | " + " | ".join(f"{c} procs" for c in counts) + " |",
             "|---|" + "---|" * len(counts)]
    for name in names:
        lines.append(f"| {name} | " +
                     " | ".join(f"{results[c][0][name]:.3f} ms" for c in counts) + " |")
    ratios = [
        ("lease: Kestrn / true", "Kestrn", "/bin/true", 1.05),
        ("lease: Kestrn / fuser", "Kestrn", "fuser -s", 0.05),
        ("lease: Kestrn / lsof", "Kestrn", "lsof", None),
        ("lease: Kestrn / flock -n", "Kestrn", "flock -n", None),
        ("fallback: Kestrn / fuser (both as nobody)", "nobody: Kestrn", "nobody: fuser -s", 0.6),
    ]
    lines += ["", "| ratio (goal) | " + " | ".join(f"{c} procs" for c in counts) + " |",
              "|---|" + "---|" * len(counts)]
    for label, a, b, goal in ratios:
        goal_text = f" (≤ {goal})" if goal else ""
        lines.append(f"| {label}{goal_text} | " +
                     " | ".join(f"{results[c][0][a] / results[c][0][b]:.3f}" for c in counts) + " |")
    lines += ["", "| peak memory | " + " | ".join(f"{c} procs" for c in counts) + " |",
              "|---|" + "---|" * len(counts)]
    for name in ["/bin/true", "Kestrn", "nobody: /bin/true", "nobody: Kestrn"]:
        lines.append(f"| {name} | " + " | ".join(f"{results[c][1][name]} KiB" for c in counts) + " |")
    text = "\n".join(lines) + "\n"
    print(text)
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write(text)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(8, 5))
    for name in names:
        ax.plot(counts, [results[c][0][name] for c in counts], marker="o", label=name,
                linestyle="--" if name.startswith("nobody") else "-")
    ax.set_xlabel("other processes, each holding 3 files open")
    ax.set_ylabel("median wall time per run (ms)")
    ax.set_yscale("log")
    ax.set_title("Is this file in use? Whole-process time")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(out, "results.png"), dpi=100)


if __name__ == "__main__":
    main()
