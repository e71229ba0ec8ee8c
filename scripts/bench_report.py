#!/usr/bin/env python3
"""Writes docs/performance.md from the JSON that the bench/ programs write.

    scripts/bench_report.py RESULTS_DIR OUTPUT.md

RESULTS_DIR holds one <program>.json per benchmark program
(--benchmark_format=json). Each figure is set against its target and its
ceiling, and both come from the same run wherever they can: the memchr
scan is the ceiling for intake, and the pause floor is the ceiling for the
time per card. A figure whose benchmark did not run is marked as such; it
is never filled in by hand.
"""
import json
import os
import pathlib
import sys

# Fixed properties of the benchmark inputs (see bench/*.cpp), not results.
CYCLE_MS = 90                     # the production loop's pause between cycles
CARD_CYCLES, CARD_EXCHANGES = 9, 14
INTAKE_MB_S = 300                 # intake must not fall below this
MEMORY_PER_JOB_BYTE = 1.25        # peak and queue, relative to the job's bytes
PORT_FLOOR_FACTOR = 1.01          # every port within this of the 950 ms floor
ERROR_NOT_ENOUGH_MEMORY = 8
# Where each largest-job figure comes from.
LARGEST_JOB_RUNS = (
    ("linux_address_space_2GiB", "Linux module, address space limited to 2 GiB (RLIMIT_AS)"),
    ("wine_x86", "x86 DLL under Wine"),
    ("wine_x64", "x64 DLL under Wine"),
)


def load(results_dir):
    runs = {}
    context = {}
    for path in sorted(pathlib.Path(results_dir).glob("*.json")):
        try:
            data = json.loads(path.read_text())
        except (OSError, ValueError) as error:
            print(f"bench_report: {path}: {error}", file=sys.stderr)
            continue
        context = data.get("context", context)
        for run in data.get("benchmarks", []):
            if run.get("run_type", "iteration") != "iteration":
                continue
            runs[run["name"]] = run
    return runs, context


def find(runs, prefix, *parts):
    for name, run in runs.items():
        if name.split("/")[0] == prefix and all(part in name for part in parts):
            return run
    return None


def to_ms(run):
    factor = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run.get("time_unit", "ns")]
    return run["real_time"] * factor


def fmt(value, digits=2):
    if value is None:
        return "not run"
    if abs(value) >= 100:
        return f"{value:,.0f}"
    if value != 0 and abs(value) < 0.01:
        return f"{value:.3g}"
    return f"{value:.{digits}f}"


def verdict(ok):
    return "not run" if ok is None else ("yes" if ok else "**no**")


def rows(runs):
    out = []

    short = find(runs, "BM_ReceiveShortReply")
    large = find(runs, "BM_ReceiveLargeReply")
    redecode = find(runs, "BM_RedecodeEveryByteEtxBabble")
    short_ns = short["per_byte"] * 1e9 if short else None
    large_ns = large["per_byte"] * 1e9 if large else None
    redecode_ns = redecode["per_byte"] * 1e9 if redecode else None
    out.append(("Frame decoding, 16-byte reply (ns/byte)", fmt(short_ns),
                "the reference for the 4 KiB reply", "—", "—"))
    out.append(("Frame decoding, 4 KiB reply (ns/byte)", fmt(large_ns),
                f"≤ 2 × short reply = {fmt(2 * short_ns) if short_ns else 'not run'}",
                f"short reply: {fmt(short_ns)}; re-decoding every byte: {fmt(redecode_ns)}",
                verdict(None if not (short_ns and large_ns) else large_ns <= 2 * short_ns)))

    parse = find(runs, "BM_SplitAndParse")
    scan = find(runs, "BM_MemchrScan")
    parse_mb = parse["bytes_per_second"] / 1e6 if parse else None
    scan_mb = scan["bytes_per_second"] / 1e6 if scan else None
    out.append(("Intake: splitting and parsing (MB/s)", fmt(parse_mb), f"≥ {INTAKE_MB_S}",
                f"memchr scan: {fmt(scan_mb)}", verdict(None if parse_mb is None else parse_mb >= INTAKE_MB_S)))

    for prefix, label in (("BM_IntakePeakMemory", "8-line cards"),
                          ("BM_IntakePeakMemoryOneLineCards", "one-line cards")):
        memory = find(runs, prefix)
        if memory is None:
            out.append((f"Intake memory per job byte, {label}: peak / queue after intake", "not run", "—", "—",
                        "not run"))
            continue
        per_card = memory["job_bytes_per_card"]
        out.append((f"Intake memory per job byte, {label} ({fmt(per_card, 0)} job bytes a card): "
                    "peak / queue after intake",
                    f"{fmt(memory['peak_per_job_byte'])} / {fmt(memory['queue_per_job_byte'])} "
                    f"({fmt(memory['queue_bytes_per_card'], 0)} bytes a card queued)",
                    f"≤ {MEMORY_PER_JOB_BYTE} / ≤ {MEMORY_PER_JOB_BYTE}",
                    f"the job itself: 1.00 ({fmt(memory['job_MiB'])} MiB)",
                    verdict(memory["peak_per_job_byte"] <= MEMORY_PER_JOB_BYTE
                            and memory["queue_per_job_byte"] <= MEMORY_PER_JOB_BYTE)))

    pacing = find(runs, "CardPacing")
    if pacing:
        floor = pacing["floor_ms_per_card"]
        out.append(("Time per card, real clock (ms)", fmt(pacing["ms_per_card"]),
                    f"≤ floor + 2 % = {fmt(floor * 1.02)}", f"pause floor: {fmt(floor)}",
                    verdict(pacing["ms_per_card"] <= floor * 1.02)))
    else:
        out.append(("Time per card, real clock (ms)", "not run", "—", "—", "not run"))

    # The DLLs under Wine (make bench-wine): the x86 one may have run in a
    # virtual machine under emulation, which its machine note says.
    wine_pacing = [find(runs, "WineCardPacing", arch) for arch in ("x86", "x64")]
    if any(wine_pacing):
        measured = " / ".join(fmt(run["ms_per_card"]) if run else "not run" for run in wine_pacing)
        out.append(("Time per card under Wine, real clock, an instant machine: x86 DLL / x64 DLL (ms)", measured,
                    "a figure beside the Linux module's", "—", "—"))

    produce = find(runs, "ProduceJob")
    if produce:
        out.append(("Cycles / exchanges per card, steady state",
                    f"{fmt(produce['cycles_per_card'])} / {fmt(produce['exchanges_per_card'])}",
                    f"exactly {CARD_CYCLES} / {CARD_EXCHANGES}", "—",
                    verdict(produce["cycles_per_card"] == CARD_CYCLES
                            and produce["exchanges_per_card"] == CARD_EXCHANGES)))

    for clients in (1, 2):
        wait = find(runs, "BM_GetInfoWhileProducing", "real_clock:1", f"clients:{clients}")
        if wait:
            out.append((f"Control request lock wait, real clock, {clients} client(s): median / worst (ms)",
                        f"{fmt(wait['wait_median_ms'])} / {fmt(wait['wait_worst_ms'])}",
                        f"≤ one production cycle (worst cycles waited ≤ 1; measured {fmt(wait['cycles_waited_worst'], 0)})",
                        "0", verdict(wait["cycles_waited_worst"] <= 1)))
        else:
            out.append((f"Control request lock wait, real clock, {clients} client(s): median / worst (ms)",
                        "not run", "—", "—", "not run"))

    for ports in (1, 8, 32):
        run = find(runs, "PortsInParallel", f"ports:{ports}/")
        label = f"{ports} port(s) at once, a client each (get_info every 200 ms)"
        if run is None:
            out.append((f"{label}: time per card, median / worst port (ms)", "not run", "—", "—", "not run"))
            continue
        floor = run["floor_ms_per_card"]
        out.append((f"{label}: time per card, median / worst port (ms)",
                    f"{fmt(run['ms_per_card_median'])} / {fmt(run['ms_per_card_worst'])} "
                    f"({fmt(run['worst_to_floor'], 3)} × floor)",
                    f"≤ {PORT_FLOOR_FACTOR} × floor = {fmt(floor * PORT_FLOOR_FACTOR)}",
                    f"floor: {fmt(floor)}; the ports' own pauses: {fmt(run['own_floor_ms_per_card'])} a card, "
                    f"time above them: mean {fmt(run['overhead_pct_mean'])} %, "
                    f"worst {fmt(run['overhead_pct_worst'])} %",
                    verdict(run["ms_per_card_worst"] <= floor * PORT_FLOOR_FACTOR)))
        out.append((f"{label}: control request lock wait, median / worst (ms)",
                    f"{fmt(run['wait_median_ms'])} / {fmt(run['wait_worst_ms'])}",
                    f"≤ one production cycle (worst cycles waited ≤ 1; measured {fmt(run['cycles_waited_worst'], 0)})",
                    f"{fmt(run['requests'], 0)} requests", verdict(run["cycles_waited_worst"] <= 1)))

    for key, where in LARGEST_JOB_RUNS:
        run = find(runs, "LargestJob", key)
        label = f"Largest job, {where}"
        if run is None:
            out.append((label, "not run", "—", "—", "not run"))
            continue
        if run.get("skipped"):
            out.append((label, f"skipped: {run['skipped']}", "—", "—", "not run"))
            continue
        stored = (f"{fmt(run['stored_MiB'], 0)} MiB, {fmt(run['stored_cards'], 0)} cards "
                  + ("stored before WritePort failed" if run["store_failed"] else "stored: the cap was reached"))
        limit = (f"address space: {fmt(run['limit_MiB'], 0)} MiB; " if "limit_MiB" in run else "")
        out.append((f"{label}: job stored / largest job stored and queued whole",
                    f"{stored} / {fmt(run['printable_MiB'], 0)} MiB, {fmt(run['printable_cards'], 0)} cards",
                    "the figure for customers", f"{limit}peak memory: {fmt(run['peak_MiB'], 0)} MiB", "—"))
        if run["store_failed"]:
            printed = {1: "yes", 0: "no"}.get(int(run["reported_printed"]), "cannot be seen")
            clean = (run["write_result"] == 0 and run["write_error"] == ERROR_NOT_ENOUGH_MEMORY
                     and run["cards_produced_failed_job"] == 0 and run["next_document_whole"] == 1
                     and int(run["reported_printed"]) != 1)
            out.append((f"{label}: the failure",
                        f"WritePort {fmt(run['write_result'], 0)}, error {fmt(run['write_error'], 0)}; "
                        f"{fmt(run['cards_produced_failed_job'], 0)} cards produced; reported printed: {printed}; "
                        f"next document whole: {'yes' if run['next_document_whole'] else 'no'}",
                        f"FALSE, error {ERROR_NOT_ENOUGH_MEMORY}; 0 cards; not reported printed; next whole",
                        "—", verdict(clean)))
    return out


def notes(runs):
    """Paragraphs under the table: what the multi-port and largest-job figures mean."""
    out = ["## Many ports", "",
           "Each port produces its own job on its own spooler thread; the ports share no lock of the "
           "module. A control request waits for the end of the production cycle in progress (or, arriving "
           "in the middle of a pause, of the next one) and runs in the pause that follows, so that it never "
           "holds a port past the pause. A client's poll may take a completion the loop would have taken, "
           "so with clients a card can take fewer than 9 cycles and less than the 950 ms floor; the time "
           "above each port's own pauses is what anything else cost it (the machine's load, lock waits).",
           ""]
    out += ["## The largest job", ""]
    printable = []
    for key, where in LARGEST_JOB_RUNS:
        run = find(runs, "LargestJob", key)
        if run is None:
            out.append(f"- {where}: not run in this results directory.")
        elif run.get("skipped"):
            out.append(f"- {where}: skipped, {run['skipped']} ({run.get('machine', 'this machine')}).")
        else:
            text = (f"- {where}: WritePort failed after {fmt(run['stored_MiB'], 0)} MiB "
                    f"({fmt(run['stored_cards'], 0)} cards of 178 bytes)" if run["store_failed"] else
                    f"- {where}: {fmt(run['stored_MiB'], 0)} MiB ({fmt(run['stored_cards'], 0)} cards) were "
                    "stored without a failure (the measurement's cap)")
            text += (f"; the largest job stored and queued whole, with control requests answered, was "
                     f"{fmt(run['printable_MiB'], 0)} MiB ({fmt(run['printable_cards'], 0)} cards).")
            text += f" Measured on: {run.get('machine', 'the machine this report was written on')}."
            if run.get("control_failed_MiB"):
                text += (f" With a {fmt(run['control_failed_MiB'], 0)} MiB job the process had too little "
                         "memory left to answer control requests.")
            out.append(text)
            if run["store_failed"] and run["printable_MiB"]:
                printable.append(run["printable_MiB"])
    for arch in ("x86", "x64"):
        run = find(runs, "WineCardPacing", arch)
        if run:
            out.append(f"- Time per card, {arch} DLL under Wine (kestrova.exe print, the sample job, an instant "
                       f"machine, the real clock): {fmt(run['ms_per_card'])} ms. Measured on: {run['machine']}.")
    if printable:
        advice = max(100, int(min(printable) / 2 // 100 * 100))
        out += ["", f"The 32-bit spooler has 2 GiB of address space for everything it runs: its own work, every "
                f"port's job and every other monitor. Keep one document well below the figures above, at most "
                f"about {advice:,} MiB ({advice * 1024 * 1024 // 178 / 1e6:.1f} million cards of 178 bytes), "
                "and split a bigger job into several documents. A job that cannot be stored fails in WritePort "
                "with ERROR_NOT_ENOUGH_MEMORY and gives its memory back at once; the 64-bit spooler "
                "(x64 DLL) has no such limit short of the machine's memory."]
    return out


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    runs, context = load(sys.argv[1])
    lines = [
        "# KestrovaLM performance",
        "",
        "Generated by `make bench` (scripts/bench_report.py) from the run of the",
        "bench/ programs; do not edit by hand.",
        "",
        f"Machine: {context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
        f"run {context.get('date', '?')}; load average when the report was written: "
        f"{', '.join(f'{load:.2f}' for load in os.getloadavg())}. Real-clock figures suffer on a loaded machine.",
        "",
        "| Figure | Measured | Target | Ceiling | Met |",
        "|---|---|---|---|---|",
    ]
    for row in rows(runs):
        lines.append("| " + " | ".join(row) + " |")
    lines += [""] + notes(runs)
    lines += ["", "## Every run", "", "| Benchmark | Real time | Counters |", "|---|---|---|"]
    skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
            "real_time", "cpu_time", "time_unit", "family_index", "per_family_instance_index",
            "aggregate_name", "aggregate_unit", "error_occurred", "error_message"}
    for name, run in runs.items():
        counters = ", ".join(f"{key}={fmt(value) if isinstance(value, (int, float)) else value}"
                             for key, value in run.items() if key not in skip)
        lines.append(f"| `{name}` | {fmt(run['real_time'])} {run.get('time_unit', '')} | {counters} |")
    pathlib.Path(sys.argv[2]).write_text("\n".join(lines) + "\n")
    print(f"bench_report: wrote {sys.argv[2]} from {len(runs)} runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
