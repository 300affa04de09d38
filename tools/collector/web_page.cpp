#include "collector/web_page.h"

namespace Corvex::Tracking::Collector {

namespace {

// The page builds every row with textContent, never with HTML, so nothing a
// host sends can run in it. It asks for the events after the last one it
// has, once a second; the title carries the number of events it shows, and
// "#event=<id>" in the address selects an event. With a tracking plan, each
// bad event's row is marked and its detail lists the reasons; the filters
// select good, bad or all events and a name, and #shown counts the rows left.
const char* const PAGE = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Corvex Collector</title>
<style>
  * { box-sizing: border-box; }
  body { margin: 0; font: 14px/1.4 "DejaVu Sans", system-ui, sans-serif; color: #1d2430;
         background: #f4f6f9; display: flex; flex-direction: column; height: 100vh; }
  header { display: flex; align-items: center; gap: 16px; padding: 10px 16px;
           background: #1d2430; color: #fff; }
  header h1 { font-size: 17px; margin: 0; font-weight: 600; }
  #totals { flex: 1; color: #c7d0dd; }
  #totals b { color: #fff; }
  #status { font-size: 12px; padding: 2px 8px; border-radius: 10px; background: #2e7d4f; }
  #status.down { background: #b23b3b; }
  #filter { width: 260px; padding: 5px 8px; border-radius: 4px; border: 0; font: inherit; }
  main { flex: 1; display: flex; min-height: 0; }
  #list { flex: 3; overflow: auto; }
  table { width: 100%; border-collapse: collapse; background: #fff; }
  th { position: sticky; top: 0; background: #e8ecf2; text-align: left; font-weight: 600;
       padding: 6px 10px; border-bottom: 1px solid #cfd6e0; }
  td { padding: 5px 10px; border-bottom: 1px solid #edf0f4; white-space: nowrap;
       max-width: 420px; overflow: hidden; text-overflow: ellipsis; }
  td.value { font-family: "DejaVu Sans Mono", monospace; font-size: 12px; color: #4a5568;
             max-width: 0; width: 100%; }
  tr.event { cursor: pointer; }
  tr.event:hover { background: #f0f5ff; }
  tr.selected { background: #dce8ff !important; }
  tr.fresh { animation: fresh 2s ease-out; }
  @keyframes fresh { from { background: #fff3b0; } to { background: #fff; } }
  .dup { color: #b26b00; font-weight: 600; }
  #detail { flex: 2; overflow: auto; padding: 12px 16px; border-left: 1px solid #cfd6e0;
            background: #fbfcfd; }
  #detail h2 { font-size: 15px; margin: 0 0 8px; }
  #detail .meta { color: #5b6675; margin-bottom: 8px; }
  #detail pre { font: 12px/1.5 "DejaVu Sans Mono", monospace; background: #fff; margin: 0;
                border: 1px solid #dfe4ea; border-radius: 4px; padding: 10px;
                white-space: pre-wrap; word-break: break-all; }
  #empty { padding: 24px; color: #5b6675; }
  #bar { display: flex; align-items: center; gap: 12px; padding: 6px 16px;
         background: #e8ecf2; border-bottom: 1px solid #cfd6e0; }
  #bar select, #bar input { font: inherit; padding: 3px 6px; }
  tr.bad td:first-child { box-shadow: inset 4px 0 #b23b3b; }
  td.plan { font-weight: 600; }
  tr.bad td.plan { color: #b23b3b; }
  tr.good td.plan { color: #2e7d4f; }
  #detail ul.violations { margin: 0 0 10px; padding-left: 18px; color: #b23b3b; }
  #detail ul.violations code { font: 12px "DejaVu Sans Mono", monospace; }
</style>
</head>
<body>
<header>
  <h1>Corvex Collector</h1>
  <div id="totals">waiting for the collector&hellip;</div>
  <span id="status">live</span>
  <input id="filter" type="search" placeholder="Filter by event, user or value" autofocus>
</header>
<div id="bar">
  <label>Plan <select id="verdict">
    <option value="all">all events</option>
    <option value="good">good only</option>
    <option value="bad">bad only</option>
  </select></label>
  <label>Name <input id="name" type="search" list="names" placeholder="any event name"></label>
  <datalist id="names"></datalist>
  <span id="shown"></span>
</div>
<main>
  <div id="list">
    <table>
      <thead><tr><th>#</th><th>Received</th><th>User</th><th>Event</th><th>Plan</th><th>Value</th></tr></thead>
      <tbody id="rows"></tbody>
    </table>
    <div id="empty">No events yet. Point a host at this collector and track something.</div>
  </div>
  <section id="detail"><div class="meta">Click an event to see its JSON.</div></section>
</main>
<script>
"use strict";
const rows = document.getElementById("rows");
const filter = document.getElementById("filter");
const detail = document.getElementById("detail");
const statusFilter = document.getElementById("verdict");
const nameFilter = document.getElementById("name");
const names = new Set();
let withPlan = false;
const eventsById = new Map();
let lastId = 0;
let loaded = false;

function element(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
}

function timeText(ms) {
  const date = new Date(ms);
  const pad = (n, width) => String(n).padStart(width || 2, "0");
  return `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}.` +
         pad(date.getMilliseconds(), 3);
}

function isBad(stored) {
  return (stored.violations || []).length > 0;
}

function matches(stored, text) {
  const status = statusFilter.value;
  if (status === "good" && isBad(stored)) return false;
  if (status === "bad" && !isBad(stored)) return false;
  const name = nameFilter.value.trim();
  if (name && stored.event.eventName !== name) return false;
  if (!text) return true;
  const haystack = [stored.event.eventName, stored.user, JSON.stringify(stored.event.value)]
    .join(" ").toLowerCase();
  return haystack.includes(text.toLowerCase());
}

function showCount() {
  let shown = 0;
  let bad = 0;
  for (const row of rows.children) {
    if (!row.hidden) ++shown;
    if (row.classList.contains("bad")) ++bad;
  }
  document.getElementById("shown").textContent =
    `${shown} of ${rows.children.length} shown` + (withPlan ? `, ${bad} bad` : ", no plan");
}

function applyFilter() {
  const text = filter.value.trim();
  for (const row of rows.children) {
    row.hidden = !matches(eventsById.get(Number(row.dataset.id)), text);
  }
  showCount();
}

function selectedId() {
  const found = /^#event=(\d+)$/.exec(location.hash);
  return found ? Number(found[1]) : 0;
}

function showDetail() {
  const id = selectedId();
  for (const row of rows.querySelectorAll("tr.selected")) row.classList.remove("selected");
  const stored = eventsById.get(id);
  if (!stored) return;
  const row = rows.querySelector(`tr[data-id="${id}"]`);
  if (row) row.classList.add("selected");
  detail.replaceChildren(
    element("h2", stored.event.eventName),
    element("div", `#${stored.id} from ${stored.user || "(no user)"}, received ` +
                   `${new Date(stored.receivedAtMs).toLocaleString()}` +
                   (stored.duplicates ? `, ${stored.duplicates} duplicate(s)` : ""), "meta"),
    violationList(stored),
    element("pre", JSON.stringify(stored.event, null, 2)));
}

function violationList(stored) {
  const list = element("ul", undefined, "violations");
  for (const violation of stored.violations || []) {
    const item = element("li");
    item.append(element("code", violation.path || "(value)"), `: ${violation.rule} `,
                element("code", violation.value));
    list.append(item);
  }
  return list;
}

function planCell(stored) {
  if (!withPlan) return element("td", "", "plan");
  const count = stored.violations.length;
  return element("td", count ? `bad (${count})` : "good", "plan");
}

function addRow(stored) {
  eventsById.set(stored.id, stored);
  const row = element("tr", undefined, loaded ? "event fresh" : "event");
  if (withPlan) row.classList.add(isBad(stored) ? "bad" : "good");
  if (!names.has(stored.event.eventName)) {
    names.add(stored.event.eventName);
    const option = element("option");
    option.value = stored.event.eventName;
    document.getElementById("names").append(option);
  }
  row.dataset.id = stored.id;
  row.append(element("td", String(stored.id)), element("td", timeText(stored.receivedAtMs)),
             element("td", stored.user), element("td", stored.event.eventName), planCell(stored),
             element("td", JSON.stringify(stored.event.value), "value"));
  if (stored.duplicates) row.children[3].append(element("span", ` \u00d7${stored.duplicates + 1}`, "dup"));
  row.hidden = !matches(stored, filter.value.trim());
  row.addEventListener("click", () => { location.hash = `event=${stored.id}`; });
  rows.prepend(row);
}

function showTotals(stats) {
  const totals = document.getElementById("totals");
  const part = (label, value) => [element("b", String(value)), ` ${label}  `];
  totals.replaceChildren(...part("events", stats.events), ...part("duplicates", stats.duplicates),
                         ...part("requests", stats.requests), ...part("failures", stats.failures));
}

async function poll() {
  const status = document.getElementById("status");
  try {
    for (;;) {
      const response = await fetch(`/api/events?after=${lastId}&limit=500`, {cache: "no-store"});
      if (!response.ok) throw new Error(response.statusText);
      const page = await response.json();
      withPlan = page.plan === true;
      for (const stored of page.events) {
        addRow(stored);
        lastId = stored.id;
      }
      showTotals(page.stats);
      if (page.events.length < 500) break;
    }
    loaded = true;
    status.textContent = "live";
    status.classList.remove("down");
    document.getElementById("empty").hidden = eventsById.size > 0;
    document.title = `Corvex Collector (${eventsById.size})`;
    showCount();
    if (selectedId() && !detail.querySelector("pre")) showDetail();
  } catch (error) {
    status.textContent = "collector unreachable";
    status.classList.add("down");
  }
  setTimeout(poll, 1000);
}

filter.addEventListener("input", applyFilter);
statusFilter.addEventListener("change", applyFilter);
nameFilter.addEventListener("input", applyFilter);
window.addEventListener("hashchange", showDetail);
poll();
</script>
</body>
</html>
)html";

}  // namespace

const std::string& webPage() {
    static const std::string page = PAGE;
    return page;
}

}  // namespace Corvex::Tracking::Collector
