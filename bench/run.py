#!/usr/bin/env python3
"""Measures the tools against the parse floor and against peers, side by side, and checks every output.

    bench/run.py BUILD_DIR [--rounds N] [--sizes 0.02,1,10,100] [--batch 2000] [--pause S] [--raw FILE.json]

For each size it generates an indented and a compact reply (a quarter of the missions arriving)
and runs: the floor (parse and release, nothing more), quaywatch, quaywatch_per_station, and as
peers that answer the same question (the dates of the arriving missions) xmllint --xpath,
xmlstarlet sel (installed when missing) and a Python script on the standard library's streaming
iterparse. How fast a process faults its pages in depends on what ran just before it, so each
command is timed three ways: cold, after a pause of a few seconds (as a cron job or a timer
runs it; a host that takes freed memory back does so within about 2 s; the cold runs of a round
come first, each after its pause, then one more pause), right after a run of
the plain floor, and right after a run of itself. Each is set against two floors: the tree
floor, and the tokenizer alone (the library's parse with a handler that has no callbacks), the
least any reading of the same reply can cost. CPU time (user + sys) is the headline; ratios
are medians of the per-round ratios, and each target is judged on the worst of the three. Then
a batch of small replies, one process per file through xargs -P 2, instruction counts at 1 MB
(callgrind), which repeat exactly from run to run, and what a board with no train costs, up to a
reply of 1 GB that the floor could not hold in memory.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PRECONDITIONINGS = ("cold", "after the floor", "after itself")
ARRIVING_DATES = ("//*[local-name()='missions'][*[local-name()='stationsMessages']='Train \u00e0 quai']"
                  "/*[local-name()='stationsDates']")


def run_measured(command, stdout_path=os.devnull):
    """Runs a command; gives its wall time, CPU time and peak RSS in MiB (of it and its children)."""
    with open(stdout_path, "wb") as stdout, open(os.devnull, "wb") as devnull:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=stdout, stderr=devnull)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
    return {"wall": wall, "cpu": usage.ru_utime + usage.ru_stime, "user": usage.ru_utime, "sys": usage.ru_stime,
            "rss": usage.ru_maxrss / 1024.0, "status": os.waitstatus_to_exitcode(status)}


def read(path):
    with open(path, "rb") as file:
        return file.read()


def check_output(name, command, expected, scratch, status=1, csv=None, expected_csv=None):
    """One untimed run whose output must be exactly what the generator predicts."""
    out = os.path.join(scratch, "check.out")
    if csv and os.path.exists(csv):
        os.remove(csv)
    result = run_measured(command, out)
    problems = []
    if status is not None and result["status"] != status:
        problems.append("exit status %d" % result["status"])
    if read(out) != expected:
        problems.append("standard output differs from the prediction")
    if expected_csv is not None and (not os.path.exists(csv) or read(csv) != read(expected_csv)):
        problems.append("CSV record differs from the prediction")
    if problems:
        print("WRONG OUTPUT: %s: %s" % (name, "; ".join(problems)))
        return False
    return True


def measure(commands, small_pages, rounds, cold_rounds=0, pause=0.0, only_after_itself=(), warm_up=True):
    """commands: name -> (argv, csv path to remove first, or None, timed cold too). Gives name ->
    preconditioning -> list of results, one per round after a warm-up round; the first
    cold_rounds rounds also time the commands so marked cold, each after a pause. The commands
    named in only_after_itself (the peers, whose fastest is what counts) are timed that way alone.
    Without warm_up (large files, which the checks of their output have just read) every round
    counts."""
    results = {name: {pre: [] for pre in PRECONDITIONINGS} for name in commands}
    names = list(commands)

    def timed(name, pre, counted):
        command, csv, _ = commands[name]
        if csv and os.path.exists(csv):
            os.remove(csv)
        result = run_measured(command)
        if counted:
            results[name][pre].append(result)

    first = 0 if warm_up else 1
    for round_index in range(first, rounds + 1):
        order = names if round_index % 2 == 0 else list(reversed(names))
        counted = round_index > 0
        if counted and round_index <= cold_rounds:
            for name in order:
                if commands[name][2]:
                    time.sleep(pause)
                    timed(name, "cold", True)
            # The memory of the last cold run is handed back before the others start.
            time.sleep(pause)
        for name in order:
            if name not in only_after_itself:
                run_measured(small_pages)
                timed(name, "after the floor", counted)
            timed(name, "after itself", counted)
    return results


def small_peak_rss(command, runs=3):
    """Peak RSS in MiB of a command too small to be told from this script's own: a child forked
    from here counts the parent's pages until it has exec'd, so a tiny launcher runs it."""
    with tempfile.NamedTemporaryFile(mode="r") as report:
        peaks = []
        for _ in range(runs):
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            report.seek(0)
            peaks.append(int(report.read().split()[-1]) / 1024.0)
    return statistics.median(peaks)


def instructions(command, valgrind_options=()):
    """Instructions executed, as valgrind's callgrind counts them: the same on every run."""
    with tempfile.NamedTemporaryFile() as counts:
        result = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + counts.name]
                                + list(valgrind_options) + command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in result.stderr.splitlines():
        if "Collected" in line:
            return int(line.split(":")[1].strip())
    return None


def ratio(results, name, base, key, pre):
    # A run too short for the clock to count (user or sys time 0 at 20 KB) gives no ratio.
    pairs = [(a, b) for a, b in zip(results[name][pre], results[base][pre]) if b[key] > 0]
    return statistics.median(a[key] / b[key] for a, b in pairs) if pairs else float("nan")


def worst_ratio(results, name, base, key):
    return max(ratio(results, name, base, key, pre) for pre in PRECONDITIONINGS if results[name][pre])


def median(results, name, key, pre):
    values = [r[key] for r in results[name][pre]]
    return statistics.median(values) if values else float("nan")


def print_table(results, commands):
    """Each command after itself, and its CPU against both floors in each preconditioning (the
    tokenizer's columns where it was run), with user and system CPU apart."""
    tokenized = any(name.startswith("tokenizer") for name in commands)
    print("  %-32s %7s %7s %7s %7s %8s   %-29s %9s%s" % (
        "command", "CPU s", "user s", "sys s", "wall s", "RSS MiB", "CPU vs floor: cold/floor/self", "RSS ratio",
        "   CPU vs tokenizer: cold/floor/self, user, sys" if tokenized else ""))
    for name in commands:
        base = base_of(name)
        line = "  %-32s %7.3f %7.3f %7.3f %7.3f %8.1f   %9.3f %9.3f %9.3f %9.3f" % (
            name, median(results, name, "cpu", "after itself"), median(results, name, "user", "after itself"),
            median(results, name, "sys", "after itself"), median(results, name, "wall", "after itself"),
            median(results, name, "rss", "after itself"),
            *(ratio(results, name, base, "cpu", pre) for pre in PRECONDITIONINGS),
            worst_ratio(results, name, base, "rss"))
        if tokenized and tokenizer_of(name) in commands:
            tokenizer = tokenizer_of(name)
            line += "   %9.3f %9.3f %9.3f %6.3f %6.3f" % (
                *(ratio(results, name, tokenizer, "cpu", pre) for pre in PRECONDITIONINGS),
                ratio(results, name, tokenizer, "user", "after itself"),
                ratio(results, name, tokenizer, "sys", "after itself"))
        print(line)


class Targets:
    def __init__(self):
        self.rows = []

    def check(self, label, value, limit, unit="x", aim=None):
        ok = value <= limit
        self.rows.append(ok)
        print("  %-4s %-66s %7.3f%s (target <= %.2f%s%s)" % (
            "ok" if ok else "MISS", label, value, unit, limit, unit,
            "" if aim is None else ", aim <= %.2f%s: %s" % (aim, unit, "met" if value <= aim else "not met")))


def base_of(name):
    """The floor a row is measured against: the compact reply's for the per-station tool."""
    return "floor (compact)" if name.startswith(("floor (compact)", "quaywatch_per_station")) else "floor"


def tokenizer_of(name):
    """The tokenizer alone on the same reply: the library's parse with no callbacks."""
    return "tokenizer (compact)" if name.startswith(("floor (compact)", "tokenizer (compact)",
                                                     "quaywatch_per_station")) else "tokenizer"


def ensure_xmlstarlet():
    if shutil.which("xmlstarlet") is None and shutil.which("apt-get") and os.geteuid() == 0:
        subprocess.run(["apt-get", "install", "-y", "--no-install-recommends", "xmlstarlet"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    return shutil.which("xmlstarlet")


def size_label(size):
    return "%d KB" % round(size * 1000) if size < 1 else "%g MB" % size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=2, help="rounds at 100 MB; more below")
    parser.add_argument("--cold-rounds", type=int, default=2, help="rounds that also time cold runs")
    parser.add_argument("--pause", type=float, default=3.0, help="seconds of quiet before a cold run")
    parser.add_argument("--sizes", default="0.02,1,10,100")
    parser.add_argument("--batch", type=int, default=250)
    parser.add_argument("--raw", help="also write every timed run's figures to this JSON file")
    parser.add_argument("--no-gigabyte", dest="gigabyte", action="store_false",
                        help="leave out the quiet board of 1 GB")
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    sizes = [float(size) for size in arguments.sizes.split(",")]
    tool = lambda name: os.path.join(build, name)
    floor = tool("bench/parse_floor")
    tokenizer = tool("bench/tokenize_floor")
    generate = tool("bench/generate_reply")
    here = os.path.dirname(os.path.abspath(__file__))
    xmllint = shutil.which("xmllint")
    xmlstarlet = ensure_xmlstarlet()
    scratch = tempfile.mkdtemp(prefix="quaywatch-bench-")
    targets = Targets()
    all_correct = True
    raw = {}
    started = time.perf_counter()
    # Where a run is cheap, more rounds steady the medians against the host's noise.
    rounds_at = lambda size: arguments.rounds * (1 if size >= 100 else 2 if size >= 10 else
                                                 3 if size >= 1 else 6)
    cold_rounds_at = lambda size: min(arguments.cold_rounds, rounds_at(size))
    print("quaywatch benchmark: %s rounds after a warm-up at %s (the first %s of them also cold, after %g s of "
          "quiet), %d cores; CPU time = user + sys"
          % (", ".join(str(rounds_at(size)) for size in sizes), ", ".join(size_label(size) for size in sizes),
             ", ".join(str(cold_rounds_at(size)) for size in sizes), arguments.pause, os.cpu_count()))
    if not xmlstarlet:
        print("xmlstarlet is not installed and could not be: its rows are left out")

    def peers(document):
        commands = {}
        if xmllint:
            commands["xmllint --xpath"] = ([xmllint, "--xpath", ARRIVING_DATES + "/text()", document], None, False)
        if xmlstarlet:
            commands["xmlstarlet sel"] = ([xmlstarlet, "sel", "-t", "-m", ARRIVING_DATES, "-v", ".", "-n",
                                           document], None, False)
        commands["python iterparse"] = ([sys.executable, os.path.join(here, "iterparse_peer.py"), document],
                                        None, False)
        return commands

    try:
        for size in sizes:
            label = size_label(size)
            files = {}
            for layout in ("indented", "compact"):
                base = os.path.join(scratch, "%s-%s" % (layout, label.replace(" ", "")))
                subprocess.run([generate, "--layout", layout, "--megabytes", str(size), "--arriving", "0.25",
                                "--seed", "7", "--output", base + ".xml", "--expect", base + ".expected",
                                "--expect-csv", base + ".csv-expected"], check=True)
                files[layout] = base
            indented, compact = files["indented"] + ".xml", files["compact"] + ".xml"
            csv = os.path.join(scratch, "arrivals.csv")
            commands = {
                "floor": ([floor, indented], None, True),
                "tokenizer": ([tokenizer, indented], None, True),
                "quaywatch": ([tool("quaywatch"), indented], None, True),
                "floor (compact)": ([floor, compact], None, True),
                "tokenizer (compact)": ([tokenizer, compact], None, True),
                "quaywatch_per_station": ([tool("quaywatch_per_station"), compact, csv], csv, True),
            }
            commands.update(peers(indented))

            expected = read(files["indented"] + ".expected")
            expected_compact = read(files["compact"] + ".expected")
            for name, (command, command_csv, _) in commands.items():
                if name.startswith("quaywatch_per_station"):
                    all_correct &= check_output("%s %s" % (name, label), command, expected_compact, scratch, 1,
                                                command_csv, files["compact"] + ".csv-expected")
                elif name.startswith("quaywatch"):
                    all_correct &= check_output("%s %s" % (name, label), command, expected, scratch)
            dates = b"".join(line[len(b"stationsDates: "):] + b"\n" for line in expected.splitlines()
                             if line.startswith(b"stationsDates: "))
            for name in peers(indented):
                all_correct &= check_output("%s %s" % (name, label), commands[name][0], dates, scratch, None)

            results = measure(commands, [floor, indented], rounds_at(size), cold_rounds_at(size), arguments.pause,
                              only_after_itself=set(peers(indented)), warm_up=size < 100)
            raw[label] = results
            print("\n%s (%d bytes indented, %d compact)" % (label, os.path.getsize(indented),
                                                            os.path.getsize(compact)))
            print_table(results, commands)

            cpu_limit = 0.45 if size >= 100 else 0.60 if size >= 1 else 1.02
            aim = 0.35 if size >= 100 else 0.45 if size >= 10 else None
            for name in ("quaywatch", "quaywatch_per_station"):
                targets.check("%s %s, CPU vs floor, worst of the three" % (name, label),
                              worst_ratio(results, name, base_of(name), "cpu"), cpu_limit, aim=aim)
                if size >= 1:
                    targets.check("%s %s, CPU vs tokenizer, worst of the three" % (name, label),
                                  worst_ratio(results, name, tokenizer_of(name), "cpu"),
                                  1.5 if name == "quaywatch" else 1.25)
                if size >= 10:
                    # A child forked from here counts this script's pages until it has exec'd.
                    targets.check("%s %s, peak RSS (measured apart)" % (name, label),
                                  small_peak_rss(commands[name][0], runs=1), 16.0, unit=" MiB")
                if size >= 1:
                    for peer in peers(indented):
                        slowest = max(median(results, name, "cpu", pre) for pre in PRECONDITIONINGS)
                        fastest = min(median(results, peer, "cpu", pre) for pre in PRECONDITIONINGS
                                      if results[peer][pre])
                        targets.check("%s %s, slowest CPU vs %s's fastest" % (name, label, peer),
                                      slowest / fastest, 0.999)

            if size < 10 and os.path.exists("/usr/bin/time"):
                # Below 16 MiB a child forked from here would count this script's own pages.
                peaks = {name: small_peak_rss(commands[name][0]) for name in commands
                         if not name.startswith(("xml", "python"))}
                print("  peak RSS measured apart: " + ", ".join(
                    "%s %.1f MiB (%.3fx)" % (name, peak, peak / peaks[base_of(name)])
                    for name, peak in peaks.items() if not name.startswith("floor")))
            if size == 1 and shutil.which("valgrind"):
                print("  instructions executed (callgrind), repeatable where times are not:")
                floor_count = instructions(commands["floor"][0])
                compact_floor_count = instructions(commands["floor (compact)"][0])
                tokenizer_counts = {name: instructions(commands[tokenizer_of(name)][0])
                                    for name in ("quaywatch", "quaywatch_per_station")}
                for name, base_count in (("quaywatch", floor_count),
                                         ("quaywatch_per_station", compact_floor_count)):
                    count = instructions(commands[name][0])
                    print("    %-24s %14d vs floor %14d: %.4fx; vs tokenizer %14d: %.4fx" % (
                        name, count, base_count, count / base_count, tokenizer_counts[name],
                        count / tokenizer_counts[name]))

            print("  (%.0f s so far)" % (time.perf_counter() - started))

        if arguments.batch > 0:
            all_correct &= run_batch(arguments, tool, floor, generate, scratch, peers, targets, raw)

        all_correct &= run_entities(arguments, tool, floor, scratch, targets, raw)
        all_correct &= run_quiet_board(arguments, tool, floor, generate, scratch, targets, raw)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if arguments.raw:
        with open(arguments.raw, "w") as dump:
            json.dump(raw, dump, indent=1)

    print("\n%d of %d targets met; output %s; %.0f s in all" % (
        sum(targets.rows), len(targets.rows),
        "correct in every checked run" if all_correct else "WRONG in some run", time.perf_counter() - started))
    return 0 if all_correct and all(targets.rows) else 1


def run_batch(arguments, tool, floor, generate, scratch, peers, targets, raw):
    """Many small replies, one process per file, two at a time: what a poller of many boards does."""
    folder = os.path.join(scratch, "batch")
    os.mkdir(folder)
    listing = os.path.join(scratch, "batch.list")
    with open(listing, "w") as names:
        for number in range(arguments.batch):
            base = os.path.join(folder, "reply-%04d" % number)
            for layout in ("indented", "compact"):
                subprocess.run([generate, "--layout", layout, "--megabytes", "0.02", "--arriving", "0.25",
                                "--seed", str(number + 1), "--output", "%s-%s.xml" % (base, layout)], check=True)
            names.write(base + "-indented.xml\n")
    compact_listing = os.path.join(scratch, "batch-compact.list")
    with open(listing) as names, open(compact_listing, "w") as compact_names:
        compact_names.write(names.read().replace("-indented.xml", "-compact.xml"))
    csv = os.path.join(scratch, "batch.csv")
    xargs = lambda names, command: ["sh", "-c", 'xargs -P 2 -n 1 "$@" <%s' % names, "xargs"] + command
    per_file = ["sh", "-c", 'xargs -P 2 -I{} "$0" {} %s <%s' % (csv, compact_listing),
                tool("quaywatch_per_station")]
    commands = {
        "floor": (xargs(listing, [floor]), None, True),
        "quaywatch": (xargs(listing, [tool("quaywatch")]), None, True),
        "floor (compact)": (xargs(compact_listing, [floor]), None, True),
        "quaywatch_per_station": (per_file, csv, True),
    }
    # The Python peer pays its interpreter's start-up once per file, some 20 times a parse: its
    # row at 20 KB tells that, and in a batch it would take most of the benchmark's time.
    for name, (command, _, _) in peers("").items():
        if name != "python iterparse":
            commands[name] = (xargs(listing, command[:-1]), None, False)
    rounds = 3
    # One small-page process is enough to leave the machine as a plain parse does.
    results = measure(commands, [floor, os.path.join(folder, "reply-0000-indented.xml")], rounds, 2,
                      arguments.pause, only_after_itself={name for name in commands if name.startswith("xml")})
    raw["batch"] = results
    print("\nbatch: %d replies of 20 KB, one process each, xargs -P 2 (%d rounds; the Python peer left out)"
          % (arguments.batch, rounds))
    print_table(results, commands)
    for name in ("quaywatch", "quaywatch_per_station"):
        targets.check("%s batch, CPU vs floor, worst of the three" % name,
                      worst_ratio(results, name, base_of(name), "cpu"), 1.02)
    lines = read(csv).count(b"\n") if os.path.exists(csv) else 0
    return lines > 0


def run_entities(arguments, tool, floor, scratch, targets, raw):
    entities = os.path.join(scratch, "entities.xml")
    with open(entities, "w") as document:
        document.write('<?xml version="1.0"?>\n<!DOCTYPE missions [\n<!ENTITY ten "0123456789">\n]>\n'
                       "<missions><stationsMessages>Train \u00e0 quai</stationsMessages><stationsDates>"
                       + "&ten;" * 400000 + "</stationsDates></missions>\n")
    expected = ("stationsDates: " + "0123456789" * 400000 + "\n").encode()
    correct = check_output("quaywatch2 on 400,000 entity references", [tool("quaywatch2"), entities],
                           expected, scratch)
    results = measure({"floor": ([floor, entities], None, False),
                       "quaywatch2": ([tool("quaywatch2"), entities], None, False)},
                      [floor, entities], arguments.rounds * 2)
    raw["400,000 entity references"] = results
    print("\n400,000 entity references: floor %.3f s CPU, %.1f MiB; quaywatch2 %.3f s CPU, %.1f MiB" % (
        median(results, "floor", "cpu", "after itself"), median(results, "floor", "rss", "after itself"),
        median(results, "quaywatch2", "cpu", "after itself"), median(results, "quaywatch2", "rss", "after itself")))
    targets.check("quaywatch2 on 400,000 entity references, CPU vs floor",
                  ratio(results, "quaywatch2", "floor", "cpu", "after itself"), 2.0)
    return correct


def run_quiet_board(arguments, tool, floor, generate, scratch, targets, raw):
    """A board with no train at the platform: the one run in which the tools also search the rest
    of the reply for an arriving mission outside the list. What that costs at the largest size
    against the floor and in instructions (callgrind, the search alone against the whole run) at
    1 MB; then a reply of 1 GB, which the floor is not run on (its tree would take some 11 GB):
    its peak RSS, and its CPU per megabyte against that at the largest size."""
    size = max(float(size) for size in arguments.sizes.split(","))
    label = size_label(size)
    correct = True
    files = {}
    for layout in ("indented", "compact"):
        for megabytes in (size, 1):
            path = os.path.join(scratch, "quiet-%s-%g.xml" % (layout, megabytes))
            subprocess.run([generate, "--layout", layout, "--megabytes", str(megabytes), "--arriving", "0",
                            "--seed", "7", "--output", path], check=True)
            files[layout, megabytes] = path
    csv = os.path.join(scratch, "quiet.csv")
    commands = {
        "floor": ([floor, files["indented", size]], None, False),
        "quaywatch": ([tool("quaywatch"), files["indented", size]], None, False),
        "floor (compact)": ([floor, files["compact", size]], None, False),
        "quaywatch_per_station": ([tool("quaywatch_per_station"), files["compact", size], csv], csv, False),
    }
    for name in ("quaywatch", "quaywatch_per_station"):
        correct &= check_output("%s, %s quiet board" % (name, label), commands[name][0], b"", scratch)
    results = measure(commands, [floor, files["indented", size]], max(2, arguments.rounds), warm_up=False)
    raw["quiet board"] = results
    print("\nquiet board, %s: no train at the platform, so the rest of the reply is searched too" % label)
    for name in ("quaywatch", "quaywatch_per_station"):
        print("  %-24s CPU vs floor %.3f after the floor, %.3f after itself; %.1f MiB" % (
            name, ratio(results, name, base_of(name), "cpu", "after the floor"),
            ratio(results, name, base_of(name), "cpu", "after itself"),
            median(results, name, "rss", "after itself")))
    if shutil.which("valgrind"):
        for name, layout in (("quaywatch", "indented"), ("quaywatch_per_station", "compact")):
            command = [tool(name), files[layout, 1]] + ([csv] if layout == "compact" else [])
            whole = instructions(command)
            search = instructions(command, ["--toggle-collect=*arrival_outside*"])
            print("  %-24s 1 MB: the search %d of %d instructions (%.4f%%)" % (
                name, search, whole, 100.0 * search / whole))
    if arguments.gigabyte:
        for layout in ("indented", "compact"):
            os.remove(files[layout, 1])
        correct &= run_gigabyte(arguments, tool, generate, scratch, targets, raw, files, size)
    return correct


def run_gigabyte(arguments, tool, generate, scratch, targets, raw, files, size):
    """The quiet board at 1 GB, one layout at a time so that the disk holds one such reply, timed
    in the same rounds as the quiet board at the largest size, so that both see the same host."""
    correct = True
    csv = os.path.join(scratch, "quiet.csv")
    for name, layout in (("quaywatch", "indented"), ("quaywatch_per_station", "compact")):
        path = os.path.join(scratch, "quiet-%s-1000.xml" % layout)
        subprocess.run([generate, "--layout", layout, "--megabytes", "1000", "--arriving", "0", "--seed", "7",
                        "--output", path], check=True)
        command = [tool(name), path] + ([csv] if layout == "compact" else [])
        smaller = [tool(name), files[layout, size]] + ([csv] if layout == "compact" else [])
        correct &= check_output("%s, 1 GB quiet board" % name, command, b"", scratch)
        gigabyte, at_size = "%s, 1 GB" % name, "%s, %s" % (name, size_label(size))
        results = measure({gigabyte: (command, csv, True), at_size: (smaller, csv, True)},
                          smaller, 2, 2, arguments.pause, warm_up=False)
        raw["quiet board, 1 GB, " + name] = results
        peak = small_peak_rss(command, runs=1)
        print("\nquiet board, 1 GB, %s: CPU %.2f s cold, %.2f after itself; %.1f MiB peak RSS" % (
            name, median(results, gigabyte, "cpu", "cold"), median(results, gigabyte, "cpu", "after itself"),
            peak))
        targets.check("%s 1 GB quiet board, peak RSS" % name, peak, 16.0, unit=" MiB")
        per_megabyte = max(median(results, gigabyte, "cpu", pre) / 1000 /
                           (median(results, at_size, "cpu", pre) / size) for pre in PRECONDITIONINGS)
        targets.check("%s 1 GB, CPU per MB vs the quiet board at %s, worst of the three" % (
            name, size_label(size)), per_megabyte, 1.10)
        os.remove(path)
    return correct


if __name__ == "__main__":
    sys.exit(main())
