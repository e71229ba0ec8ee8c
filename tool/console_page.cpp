#include "tool/console_page.h"

namespace kestrova::tool {

namespace {

const char* const kPageHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>KestrovaLM console</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="kestrova-token" content=")html";

const char* const kPageRest = R"html(">
<style>
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 1.5em; background: #f4f5f7; color: #1d232b; }
h1 { font-size: 1.4em; margin: 0 0 0.2em 0; }
#summary { color: #4a5563; margin-bottom: 1em; }
#tiles { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }
.tile { width: 24em; border-radius: 8px; padding: 0.9em 1em; background: #fff; border-left: 0.7em solid #9aa3ad;
        box-shadow: 0 1px 3px rgba(0,0,0,0.15); }
.tile.producing { border-left-color: #2e9e4f; }
.tile.idle { border-left-color: #3f7ad6; }
.tile.halted { border-left-color: #d43c2f; background: #fff4f2; }
.tile.unreachable { border-left-color: #7b8088; background: #eceef0; }
.tile h2 { font-size: 1.1em; margin: 0; }
.port { color: #6a7380; font-size: 0.85em; }
.condition { font-weight: bold; text-transform: uppercase; letter-spacing: 0.05em; margin: 0.4em 0; font-size: 0.9em; }
.producing .condition { color: #2e9e4f; } .idle .condition { color: #3f7ad6; }
.halted .condition { color: #d43c2f; } .unreachable .condition { color: #7b8088; }
.bar { height: 0.6em; background: #e1e5ea; border-radius: 3px; overflow: hidden; margin: 0.3em 0; }
.bar div { height: 100%; background: #2e9e4f; width: 0; }
.machine, .module, .progress { font-size: 0.85em; color: #4a5563; }
.problem { margin-top: 0.5em; font-weight: bold; color: #a52a1f; }
.next { font-size: 0.9em; }
.buttons { margin-top: 0.7em; display: flex; flex-wrap: wrap; gap: 0.35em; }
button { font: inherit; font-size: 0.85em; padding: 0.25em 0.7em; border-radius: 4px; border: 1px solid #9aa3ad;
         background: #fff; cursor: pointer; }
button.clears { border-color: #d43c2f; background: #d43c2f; color: #fff; font-weight: bold; }
button[data-command="delete_job"] { color: #a52a1f; }
button:disabled { opacity: 0.4; cursor: default; }
.answer { font-size: 0.85em; margin-top: 0.4em; color: #4a5563; min-height: 1.2em; }
#error { color: #a52a1f; font-weight: bold; }
</style>
</head>
<body>
<h1>KestrovaLM console</h1>
<div id="summary">looking&hellip;</div>
<div id="error"></div>
<div id="tiles"></div>
<script src="/console.js"></script>
</body>
</html>
)html";

const char* const kScript = R"js("use strict";
// Looks every half second; each tile is made once and then only updated, so
// that a button is never replaced under the pointer.
const token = document.querySelector('meta[name="kestrova-token"]').content;
const tiles = new Map();
const commands = ["restore", "pause", "continue", "step", "delete_job"];

function element(tag, cls, parent) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (parent) parent.appendChild(e);
  return e;
}

function makeTile(machine) {
  const tile = element("div", "tile", document.getElementById("tiles"));
  tile.dataset.machine = machine.name;
  const parts = { tile: tile };
  parts.name = element("h2", "", tile);
  parts.port = element("div", "port", tile);
  parts.condition = element("div", "condition", tile);
  parts.job = element("div", "job", tile);
  parts.bar = element("div", "bar", tile);
  parts.fill = element("div", "", parts.bar);
  parts.progress = element("div", "progress", tile);
  parts.machine = element("div", "machine", tile);
  parts.module = element("div", "module", tile);
  parts.problem = element("div", "problem", tile);
  parts.next = element("div", "next", tile);
  const buttons = element("div", "buttons", tile);
  parts.buttons = {};
  for (const command of commands) {
    const b = element("button", "", buttons);
    b.type = "button";
    b.textContent = command;
    b.dataset.command = command;
    b.addEventListener("click", () => act(parts, command));
    parts.buttons[command] = b;
  }
  parts.answer = element("div", "answer", tile);
  tiles.set(machine.name, parts);
  return parts;
}

function show(parts, m) {
  parts.machine_ = m;
  parts.tile.className = "tile " + m.condition;
  parts.tile.dataset.condition = m.condition;
  parts.name.textContent = m.name;
  parts.port.textContent = m.port ? "on " + m.port : "";
  parts.condition.textContent = m.condition;
  const job = m.job;
  if (job.id !== null && job.to_produce > 0) {
    parts.job.textContent = "job " + job.id + " \u201c" + (job.doc_name || "") + "\u201d: " + job.to_produce +
      (job.to_produce === 1 ? " card" : " cards") + " to produce";
    parts.tile.dataset.job = String(job.id);
  } else {
    parts.job.textContent = m.answered ? "no job" : "";
    delete parts.tile.dataset.job;
  }
  parts.tile.dataset.toProduce = job.to_produce === null ? "" : String(job.to_produce);
  const total = job.total || 0;
  parts.bar.style.visibility = total > 0 ? "visible" : "hidden";
  parts.fill.style.width = total > 0 ? (100 * job.done / total) + "%" : "0";
  parts.progress.textContent = total > 0 ? job.done + " of " + total + " cards done since first seen" : "";
  const mm = m.machine;
  parts.machine.textContent = m.answered ? (mm.state || "(no state)") + " \u00b7 hw_error_code " + mm.hw_error_code +
    " \u00b7 sw_error_code " + mm.sw_error_code : "";
  const info = Object.entries(mm.module_info || {}).map(([k, v]) => k + " " + v);
  parts.module.textContent = info.length ? info.join(", ") : "";
  parts.problem.textContent = m.problem || "";
  parts.next.textContent = m.next_step ? "next: " + m.next_step : "";
  for (const command of commands) {
    const b = parts.buttons[command];
    b.disabled = !m.answered || (command === "delete_job" && parts.tile.dataset.job === undefined);
    b.classList.toggle("clears", m.clearing_command === command && m.condition === "halted");
  }
}

async function act(parts, command) {
  const m = parts.machine_;
  const fields = new URLSearchParams({ machine: m.name, command: command });
  if (command === "delete_job") {
    const job = parts.tile.dataset.job;
    if (job === undefined) return;
    const left = m.job.to_produce;
    if (!window.confirm("Delete job " + job + " \u201c" + (m.job.doc_name || "") + "\u201d on " + m.name + "? " +
                        left + (left === 1 ? " card" : " cards") + " not yet made will not be made.")) {
      parts.answer.textContent = "delete_job not sent";
      return;
    }
    fields.set("job", job);
  }
  parts.answer.textContent = command + "\u2026";
  try {
    const r = await fetch("/api/action", { method: "POST", headers: { "X-Kestrova-Token": token,
      "Content-Type": "application/x-www-form-urlencoded" }, body: fields.toString() });
    const answer = await r.json();
    parts.answer.textContent = answer.message;
  } catch (e) {
    parts.answer.textContent = command + " failed: " + e;
  }
  look();
}

let looking = false;
async function look() {
  if (looking) return;
  looking = true;
  try {
    const r = await fetch("/api/machines", { headers: { "X-Kestrova-Token": token }, cache: "no-store" });
    const answer = await r.json();
    document.getElementById("error").textContent = r.ok ? (answer.error || "") : answer.message;
    const counts = {};
    for (const m of answer.machines || []) {
      show(tiles.get(m.name) || makeTile(m), m);
      counts[m.condition] = (counts[m.condition] || 0) + 1;
    }
    const n = (answer.machines || []).length;
    document.getElementById("summary").textContent = n + (n === 1 ? " machine" : " machines") +
      (n ? ": " + Object.entries(counts).map(([c, k]) => k + " " + c).join(", ") : "") +
      " \u00b7 looked at " + new Date().toLocaleTimeString();
  } catch (e) {
    document.getElementById("error").textContent = "the console does not answer: " + e;
  } finally {
    looking = false;
  }
}

look();
setInterval(look, 500);
)js";

}  // namespace

std::string consolePage(const std::string& token) { return kPageHead + token + kPageRest; }

std::string consoleScript() { return kScript; }

}  // namespace kestrova::tool
