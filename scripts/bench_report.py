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
INTAKE_CARDS = 100_000            # bench/job_intake.cpp: cards in the intake job
FIXED_MEMORY_BYTES = 4 * 1024 * 1024  # "a fixed few MiB" beside 3x the job
CYCLE_MS = 90                     # the production loop's pause between cycles
CARD_CYCLES, CARD_EXCHANGES = 9, 14


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
    out.append(("Intake: splitting and parsing (MB/s)", fmt(parse_mb), "≥ 100",
                f"memchr scan: {fmt(scan_mb)}", verdict(None if parse_mb is None else parse_mb >= 100)))

    memory = find(runs, "BM_IntakePeakMemory")
    if memory:
        job_bytes = memory["job_MiB"] * 1024 * 1024
        peak_card = memory["peak_MiB"] * 1024 * 1024 / INTAKE_CARDS
        target_card = (3 * job_bytes + FIXED_MEMORY_BYTES) / INTAKE_CARDS
        out.append(("Peak intake memory per queued card (bytes)", fmt(peak_card),
                    f"≤ (3 × job + 4 MiB) / cards = {fmt(target_card)}",
                    f"the card's own job bytes: {fmt(job_bytes / INTAKE_CARDS)}",
                    verdict(peak_card <= target_card)))
        out.append(("Memory held by the queue after intake (MiB)", fmt(memory["queue_MiB"]),
                    f"≤ 3 × job = {fmt(3 * memory['job_MiB'])}", f"job: {fmt(memory['job_MiB'])}",
                    verdict(memory["queue_MiB"] <= 3 * memory["job_MiB"])))
    else:
        out.append(("Peak intake memory per queued card (bytes)", "not run", "—", "—", "not run"))

    pacing = find(runs, "CardPacing")
    if pacing:
        floor = pacing["floor_ms_per_card"]
        out.append(("Time per card, real clock (ms)", fmt(pacing["ms_per_card"]),
                    f"≤ floor + 2 % = {fmt(floor * 1.02)}", f"pause floor: {fmt(floor)}",
                    verdict(pacing["ms_per_card"] <= floor * 1.02)))
    else:
        out.append(("Time per card, real clock (ms)", "not run", "—", "—", "not run"))

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
