#!/usr/bin/env python3
"""Measures the tools against the parse floor, side by side, and checks every output.

    bench/run.py BUILD_DIR [--rounds N] [--sizes 1,10,100] [--raw FILE.json]

For each size it generates an indented reply (a quarter of the missions arriving, and every
mission arriving) and a compact one, then runs, in an order that alternates from round to round:
the floor (parse and release only), quaywatch, quaywatch_per_station, xmllint --noout and, when
installed, xmlstarlet. Every timed run comes right after a run at least as memory-hungry: the
most memory-hungry command of the size, run once untimed, or the timed run before it when that
one was as big; so no run pays for faulting in pages that a smaller run before it gave back.
CPU time (user + sys) is the headline, wall time is shown beside it; ratios to the floor are the
medians of the per-round ratios.
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


def run_measured(command, stdout_path=os.devnull):
    """Runs a command; gives its wall time, CPU time and peak RSS in MiB."""
    with open(stdout_path, "wb") as stdout, open(os.devnull, "wb") as devnull:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=stdout, stderr=devnull)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return {"wall": wall, "cpu": usage.ru_utime + usage.ru_stime, "user": usage.ru_utime,
            "rss": usage.ru_maxrss / 1024.0, "status": process.returncode}


def read(path):
    with open(path, "rb") as file:
        return file.read()


def check_output(name, command, expected_stdout, scratch, csv=None, expected_csv=None):
    """One untimed run whose output must be exactly what the generator predicts."""
    out = os.path.join(scratch, "check.out")
    if csv and os.path.exists(csv):
        os.remove(csv)
    result = run_measured(command, out)
    problems = []
    if result["status"] != 1:
        problems.append("exit status %d" % result["status"])
    if expected_stdout is not None and read(out) != read(expected_stdout):
        problems.append("standard output differs from the prediction")
    if expected_csv is not None and (not os.path.exists(csv) or read(csv) != read(expected_csv)):
        problems.append("CSV record differs from the prediction")
    if problems:
        print("WRONG OUTPUT: %s: %s" % (name, "; ".join(problems)))
        return False
    return True


def measure(commands, hog, rounds):
    """commands: name -> (argv, fresh-csv-path or None). Gives name -> list of results.

    Every timed run comes right after a run that gave back at least as much memory as it needs:
    the hog, or the timed run before it when that one was as big (the floor and the tools build
    the same tree), which spares a hog run for most runs on the largest replies."""
    results = {name: [] for name in commands}
    names = list(commands)
    needs = {}
    last_rss = run_measured(hog)["rss"]
    for round_index in range(rounds + 1):  # round 0 is the warm-up
        order = names if round_index % 2 == 0 else list(reversed(names))
        for name in order:
            command, csv = commands[name]
            if last_rss < needs.get(name, float("inf")):
                last_rss = run_measured(hog)["rss"]
            if csv and os.path.exists(csv):
                os.remove(csv)
            result = run_measured(command)
            last_rss = result["rss"]
            needs[name] = 0.99 * result["rss"]
            if round_index > 0:
                results[name].append(result)
    return results


def instructions(command):
    """Instructions executed, as valgrind's callgrind counts them: the same on every run."""
    with tempfile.NamedTemporaryFile() as counts:
        result = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + counts.name]
                                + command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in result.stderr.splitlines():
        if "Collected" in line:
            return int(line.split(":")[1].strip())
    return None


def ratio(results, name, floor, key):
    return statistics.median(a[key] / b[key] for a, b in zip(results[name], results[floor]))


def median(results, name, key):
    return statistics.median(r[key] for r in results[name])


class Targets:
    def __init__(self):
        self.rows = []

    def check(self, label, value, limit, unit="x"):
        ok = value <= limit
        self.rows.append(ok)
        print("  %-4s %-58s %6.3f%s (target <= %.2f%s)" % (
            "ok" if ok else "MISS", label, value, unit, limit, unit))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--sizes", default="1,10,100")
    parser.add_argument("--raw", help="also write every timed run's figures to this JSON file")
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    sizes = [int(size) for size in arguments.sizes.split(",")]
    tool = lambda name: os.path.join(build, name)
    floor = tool("bench/parse_floor")
    generate = tool("bench/generate_reply")
    xmllint = shutil.which("xmllint")
    xmlstarlet = shutil.which("xmlstarlet")
    scratch = tempfile.mkdtemp(prefix="quaywatch-bench-")
    targets = Targets()
    all_correct = True
    cpu_per_mb = {}
    raw = {}
    # Below 100 MB a run is cheap, and more rounds steady the medians against the host's noise.
    rounds_at = lambda size: arguments.rounds * (1 if size >= 100 else 2 if size >= 10 else 4)
    print("quaywatch benchmark: %s rounds after a warm-up at %s MB, %d cores; CPU time = user + sys"
          % (", ".join(str(rounds_at(size)) for size in sizes), ", ".join(map(str, sizes)),
             os.cpu_count()))
    try:
        # The fixed cost of starting a process that links the XML library, measured on an empty
        # reply, is left out of the time per MB.
        empty = os.path.join(scratch, "empty.xml")
        subprocess.run([generate, "--megabytes", "0", "--output", empty], check=True)
        startup = measure({"floor": ([floor, empty], None),
                           "quaywatch": ([tool("quaywatch"), empty], None)},
                          [floor, empty], rounds_at(0))
        startup_cpu = {name: median(startup, name, "cpu") for name in startup}
        print("start-up on an empty reply: floor %.4f s CPU, quaywatch %.4f s CPU"
              % (startup_cpu["floor"], startup_cpu["quaywatch"]))
        floor_per_mb = {}
        share_of_floor = {}
        for size in sizes:
            files = {}
            for label, layout, arriving in (("indented", "indented", 0.25),
                                            ("indented-all", "indented", 1.0),
                                            ("compact", "compact", 0.25)):
                base = os.path.join(scratch, "%s-%d" % (label, size))
                subprocess.run([generate, "--layout", layout, "--megabytes", str(size),
                                "--arriving", str(arriving), "--seed", "7",
                                "--output", base + ".xml", "--expect", base + ".expected",
                                "--expect-csv", base + ".csv-expected"], check=True)
                files[label] = base
            csv = os.path.join(scratch, "arrivals.csv")
            indented, every, compact = (files[k] + ".xml" for k in ("indented", "indented-all", "compact"))
            commands = {
                "floor (indented)": ([floor, indented], None),
                "quaywatch, 1/4 arriving": ([tool("quaywatch"), indented], None),
                "floor (all arriving)": ([floor, every], None),
                "quaywatch, all arriving": ([tool("quaywatch"), every], None),
                "floor (compact)": ([floor, compact], None),
                "quaywatch_per_station": ([tool("quaywatch_per_station"), compact, csv], csv),
            }
            if xmllint:
                commands["xmllint --noout"] = ([xmllint, "--noout", indented], None)
            if xmlstarlet:
                commands["xmlstarlet sel"] = ([xmlstarlet, "sel", "-t", "-m",
                    "//*[local-name()='missions'][*[local-name()='stationsMessages']='Train \u00e0 quai']",
                    "-v", "*[local-name()='stationsDates']", "-n", indented], None)
            all_correct &= check_output("quaywatch %d MB" % size, [tool("quaywatch"), indented],
                                        files["indented"] + ".expected", scratch)
            all_correct &= check_output("quaywatch all arriving %d MB" % size,
                                        [tool("quaywatch"), every], files["indented-all"] + ".expected", scratch)
            all_correct &= check_output("quaywatch_per_station %d MB" % size,
                                        [tool("quaywatch_per_station"), compact, csv],
                                        files["compact"] + ".expected", scratch, csv,
                                        files["compact"] + ".csv-expected")
            # Each tool is measured beside the floor on the same file, close together in time,
            # so that the host's drift over the run touches both alike.
            groups = [["floor (indented)", "quaywatch, 1/4 arriving", "xmllint --noout", "xmlstarlet sel"],
                      ["floor (all arriving)", "quaywatch, all arriving"],
                      ["floor (compact)", "quaywatch_per_station"]]
            rounds = rounds_at(size)
            results = {}
            for group in groups:
                results.update(measure({name: commands[name] for name in group if name in commands},
                                       [floor, every], rounds))
            raw["%d MB" % size] = results
            print("\n%d MB (%d bytes indented)" % (size, os.path.getsize(indented)))
            print("  %-26s %9s %9s %9s %9s %10s %9s" % ("command", "CPU s", "user s", "wall s",
                                                  "RSS MiB", "CPU ratio", "RSS ratio"))
            floors = {"quaywatch, 1/4 arriving": "floor (indented)",
                      "quaywatch, all arriving": "floor (all arriving)",
                      "quaywatch_per_station": "floor (compact)",
                      "xmllint --noout": "floor (indented)", "xmlstarlet sel": "floor (indented)"}
            for name in commands:
                base = floors.get(name, name)
                print("  %-26s %9.3f %9.3f %9.3f %9.1f %10.3f %9.3f" % (
                    name, median(results, name, "cpu"), median(results, name, "user"),
                    median(results, name, "wall"),
                    median(results, name, "rss"), ratio(results, name, base, "cpu"),
                    ratio(results, name, base, "rss")))
            if size == sizes[0] and shutil.which("valgrind"):
                print("  instructions executed (callgrind), repeatable where times are not:")
                for tool_name, floor_name in (("quaywatch, 1/4 arriving", "floor (indented)"),
                                              ("quaywatch, all arriving", "floor (all arriving)"),
                                              ("quaywatch_per_station", "floor (compact)")):
                    tool_count = instructions(commands[tool_name][0])
                    floor_count = instructions(commands[floor_name][0])
                    print("    %-26s %14d vs floor %14d: %.4fx" % (
                        tool_name, tool_count, floor_count, tool_count / floor_count))
            megabytes = os.path.getsize(indented) / 1e6
            cpu_per_mb[size] = (median(results, "quaywatch, 1/4 arriving", "cpu")
                                - startup_cpu["quaywatch"]) / megabytes
            floor_per_mb[size] = (median(results, "floor (indented)", "cpu")
                                  - startup_cpu["floor"]) / megabytes
            # The tool's time per MB as a share of the parse's, round by round.
            share_of_floor[size] = statistics.median(
                (tool_run["cpu"] - startup_cpu["quaywatch"]) / (floor_run["cpu"] - startup_cpu["floor"])
                for tool_run, floor_run in zip(results["quaywatch, 1/4 arriving"],
                                               results["floor (indented)"]))
            print("  CPU time per MB, less start-up: quaywatch %.4f s, floor %.4f s; "
                  "quaywatch's per MB as a share of the floor's: %.3f"
                  % (cpu_per_mb[size], floor_per_mb[size], share_of_floor[size]))
            if size >= 10:
                targets.check("quaywatch %d MB, 1/4 arriving, CPU vs floor" % size,
                              ratio(results, "quaywatch, 1/4 arriving", "floor (indented)", "cpu"), 1.12)
                targets.check("quaywatch %d MB, 1/4 arriving, peak RSS vs floor" % size,
                              ratio(results, "quaywatch, 1/4 arriving", "floor (indented)", "rss"), 1.02)
                targets.check("quaywatch %d MB, all arriving, CPU vs floor" % size,
                              ratio(results, "quaywatch, all arriving", "floor (all arriving)", "cpu"), 1.20)
                targets.check("quaywatch_per_station %d MB, CPU vs floor" % size,
                              ratio(results, "quaywatch_per_station", "floor (compact)", "cpu"), 1.10)

        print("\nOther measures")
        if len(cpu_per_mb) > 1:
            # The parse's own time per MB is not flat on a virtual machine whose host takes back
            # freed memory: past about 1 GB of tree, faulting the pages in costs the kernel about
            # twice as much per page. The tool's part in it is what must not grow with the size.
            spread = max(share_of_floor.values()) / min(share_of_floor.values()) - 1
            targets.check("quaywatch CPU time per MB against the floor's, spread over %s MB"
                          % arguments.sizes, spread * 100, 10.0, " %")
            tool_spread = max(cpu_per_mb.values()) / min(cpu_per_mb.values()) - 1
            floor_spread = max(floor_per_mb.values()) / min(floor_per_mb.values()) - 1
            print("       (CPU time per MB alone spreads by %.1f %% for quaywatch and %.1f %% for "
                  "the floor)" % (tool_spread * 100, floor_spread * 100))
        entities = os.path.join(scratch, "entities.xml")
        with open(entities, "w") as document:
            document.write('<?xml version="1.0"?>\n<!DOCTYPE missions [\n<!ENTITY ten "0123456789">\n]>\n'
                           "<missions><stationsMessages>Train \u00e0 quai</stationsMessages><stationsDates>"
                           + "&ten;" * 400000 + "</stationsDates></missions>\n")
        expected = os.path.join(scratch, "entities.expected")
        with open(expected, "w") as report:
            report.write("stationsDates: " + "0123456789" * 400000 + "\n")
        all_correct &= check_output("quaywatch2 on 400,000 entity references",
                                    [tool("quaywatch2"), entities], expected, scratch)
        results = measure({"floor": ([floor, entities], None),
                           "quaywatch2": ([tool("quaywatch2"), entities], None)},
                          [floor, entities], arguments.rounds)
        print("  400,000 entity references: floor %.3f s CPU, quaywatch2 %.3f s CPU" % (
            median(results, "floor", "cpu"), median(results, "quaywatch2", "cpu")))
        targets.check("quaywatch2 on 400,000 entity references, CPU vs floor",
                      ratio(results, "quaywatch2", "floor", "cpu"), 2.0)
        raw["400,000 entity references"] = results
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if arguments.raw:
        with open(arguments.raw, "w") as dump:
            json.dump(raw, dump, indent=1)

    print("\n%d of %d targets met; output %s" % (sum(targets.rows), len(targets.rows),
          "correct in every checked run" if all_correct else "WRONG in some run"))
    return 0 if all_correct and all(targets.rows) else 1


if __name__ == "__main__":
    sys.exit(main())
