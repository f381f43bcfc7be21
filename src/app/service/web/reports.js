"use strict";
// The reports of the shown day or period: the 汇总 tab and one tab per kind,
// a page of rows with page numbers, sorting, filtering by several terms or a
// fleet, and the CSV/XLSX export.

const kinds = [
  ["summary", "汇总"], ["mileage", "里程"], ["speeding", "超速"], ["parking", "停车"],
  ["fatigue", "疲劳驾驶"], ["lostcontact", "失去联系"], ["linealarms", "路段报警"], ["quality", "数据质量"],
];
// The quality tab lists only the vehicles whose tracker sent something the reports cannot take at face value.
const kindParams = (kind) => kind === "quality" ? { kind, flagged: "1" } : { kind };
const pageRows = 100;
const report = { kind: "mileage", offset: 0, total: 0, filter: "", sort: "", order: "asc", columns: [], rows: [],
  per: "vehicle", vehicle: null };
const kindCounts = {};

function selectTab(kind) {
  report.kind = kind;
  report.offset = 0;
  report.sort = "";
  report.vehicle = null;
  for (const t of $("tabs").children) t.setAttribute("aria-selected", String(t.dataset.kind === kind));
}

for (const [kind, name] of kinds) {
  const tab = element("button", name);
  tab.type = "button";
  tab.setAttribute("role", "tab");
  tab.dataset.kind = kind;
  tab.setAttribute("aria-selected", String(kind === report.kind));
  tab.onclick = () => {
    if (report.kind === kind && !report.vehicle) return;
    selectTab(kind);
    loadReports(false);
  };
  $("tabs").appendChild(tab);
}

// The shown day or period as query parameters: one day as day=, a period as from= and to=.
const periodParams = () => oneDay() ? { day: when.from } : { from: when.from, to: when.to };
// Several terms, separated by spaces or commas, any of which a row may match.
const filterTerms = (text) => text.split(/[\s,，]+/).filter((t) => t !== "").join(" ");

function reportQuery(paged) {
  const q = new URLSearchParams({ ...periodParams(), ...kindParams(report.kind) });
  if (report.filter) q.set("filter", report.filter);
  if (report.sort) { q.set("sort", report.sort); q.set("order", report.order); }
  if (paged) { q.set("offset", report.offset); q.set("limit", pageRows); }
  return q.toString();
}

// A day never computed has no reports: its tabs show no count rather than 0.
const dayMissing = () => oneDay() && periodStates.length > 0 &&
  ["not computed", "no GPS table", "failed", "waiting for an operator"].includes(periodStates[0].state);

function showTabCounts() {
  $("summary").hidden = dayMissing();
  for (const tab of $("tabs").children) {
    const name = kinds.find((k) => k[0] === tab.dataset.kind)[1];
    const n = kindCounts[tab.dataset.kind];
    tab.textContent = n == null || dayMissing() ? name : name + "（" + n + "）";
  }
}

// The tab counts and the fleet line: a day's from its summary, a period's from each kind's total.
async function loadCounts() {
  const from = when.from, to = when.to;
  const same = () => from === when.from && to === when.to;
  const query = oneDay() ? { day: from } : { from, to, per: "vehicle", limit: 0 };
  const { status, data } = await api("GET", "/api/summary?" + new URLSearchParams(query));
  if (!same()) return;
  if (oneDay() && status === 200 && data && data.kinds) {
    Object.assign(kindCounts, data.kinds);
    $("summary").textContent = "车队概况：有定位的车辆 " + data.vehicles + " 辆，共行驶 " +
      kilometres(data.kilometres) + " 公里，超速 " + data.speedingEpisodes + " 次，停车 " + data.stops + " 次";
  } else if (status === 200 && data && data.totals) {
    kindCounts.summary = data.total;
    const t = data.totals;
    $("summary").textContent = "这段时间：车辆 " + (t.vehicles ?? data.total) + " 辆，共行驶 " + kilometres(t.kilometres) +
      " 公里，超速 " + t.speeding + " 次（" + hoursMinutes(t.speedingSeconds) + "），停车 " + t.parking + " 次";
  } else {
    $("summary").textContent = "";
  }
  await Promise.all(kinds.filter(([kind]) => kindCounts[kind] == null && kind !== "summary").map(async ([kind]) => {
    const r = await api("GET", "/api/reports?" + new URLSearchParams({ ...periodParams(), ...kindParams(kind), limit: 0 }));
    if (r.status === 200 && r.data) kindCounts[kind] = r.data.total;
  }));
  if (same()) showTabCounts();
}

let reportRead = 0;
async function loadReports(withCounts) {
  if (!when.from) return;
  takeTypedFilter();
  if (withCounts) {
    for (const k of Object.keys(kindCounts)) delete kindCounts[k];
    $("summary").textContent = "";
    showTabCounts();
    loadCounts();
    loadDayStates();
    loadFleets();
  }
  const read = ++reportRead;
  $("report-info").textContent = "正在读取…";
  const summary = report.kind === "summary";
  let answer;
  try {
    answer = await api("GET", (summary ? "/api/summary?" + summaryQuery(true) : "/api/reports?" + reportQuery(true)));
  } catch (e) {
    answer = { status: 0, data: null };
  }
  if (read !== reportRead) return;
  const { status, data } = answer;
  if (status !== 200 || !data || !Array.isArray(data.rows)) {
    report.columns = [];
    report.rows = [];
    report.total = 0;
    renderReport();
    $("report-info").textContent = "读不到报表：" + ((data && data.error) || status);
    return;
  }
  report.rows = data.rows;
  report.total = data.total;
  if (summary) {
    report.columns = summaryColumns();
    report.totals = data.totals;
  } else {
    report.columns = data.columns;
    if (!report.filter) { kindCounts[report.kind] = data.total; showTabCounts(); }
  }
  renderReport();
  if (data.tableMissing) $("report-info").textContent = "没有这张表（" + data.table + "）";
}

function renderHead(captionOf) {
  const head = $("report").tHead.rows[0];
  head.replaceChildren();
  report.columns.forEach((column) => {
    const th = element("th", captionOf(column));
    th.title = "点击排序";
    th.dataset.column = column;
    if (report.sort === column) {
      th.classList.add("sorted");
      th.textContent += report.order === "asc" ? " ▲" : " ▼";
    }
    th.onclick = () => {
      if (report.sort === column) report.order = report.order === "asc" ? "desc" : "asc";
      else { report.sort = column; report.order = "asc"; }
      report.offset = 0;
      loadReports(false);
    };
    head.appendChild(th);
  });
}

function renderReport() {
  const summary = report.kind === "summary";
  $("per").hidden = !summary || report.vehicle !== null;
  $("back-to-summary").hidden = !summary || report.vehicle === null;
  const body = $("report").tBodies[0];
  body.replaceChildren();
  $("report").tFoot.replaceChildren();
  if (summary) renderSummary(body);
  else {
    renderHead((column) => column === "REMARK" && report.kind === "speeding" ? "道路" : columnNames[column] || column);
    const numeric = report.columns.map((c) => c in columnFormats);
    report.rows.forEach((values) => {
      const row = document.createElement("tr");
      values.forEach((v, i) => valueCell(row, report.columns[i], v));
      if (values[0] === track.simId) row.classList.add("vehicle");
      row.onclick = () => chooseRow(row, values);
      body.appendChild(row);
    });
    for (const th of $("report").tHead.rows[0].cells) th.classList.toggle("num", numeric[th.cellIndex]);
  }
  renderPages();
  const what = summary ? "汇总" : "报表";
  $("report-info").textContent = report.total === 0
    ? (dayMissing() ? "这一天没有算好的报表" : report.filter ? "没有符合筛选的行"
      : report.kind === "quality" ? "没有数据有问题的车辆" : "没有这种" + what + "的行")
    : "共 " + report.total + " 行" + (report.filter ? "（已筛选）" : "") + "，第 " + (report.offset + 1) + "–" +
      (report.offset + report.rows.length) + " 行";
  const exportPath = summary ? "/api/summary" : "/api/reports";
  const query = summary ? summaryQuery(false) : reportQuery(false);
  for (const [id, ext] of [["export-csv", ".csv"], ["export-xlsx", ".xlsx"]]) {
    const link = $(id);
    link.href = exportPath + ext + "?" + query;
    link.setAttribute("aria-disabled", String(!when.from));
  }
}

// 上一页, 下一页 and the numbers of the first, the last and the pages near the shown one.
function renderPages() {
  const pages = Math.max(1, Math.ceil(report.total / pageRows));
  const page = Math.floor(report.offset / pageRows) + 1;
  $("page-info").textContent = "第 " + page + "/" + pages + " 页";
  $("page-prev").disabled = page <= 1;
  $("page-next").disabled = page >= pages;
  const numbers = $("page-numbers");
  numbers.replaceChildren();
  let last = 0;
  for (let n = 1; n <= pages; ++n) {
    if (n !== 1 && n !== pages && Math.abs(n - page) > 2) continue;
    if (n > last + 1) numbers.append(element("span", "…", "hint"));
    const button = element("button", n);
    button.type = "button";
    button.setAttribute("aria-current", String(n === page));
    button.onclick = () => { report.offset = (n - 1) * pageRows; loadReports(false); };
    numbers.append(button);
    last = n;
  }
}

$("page-prev").onclick = () => { report.offset = Math.max(0, report.offset - pageRows); loadReports(false); };
$("page-next").onclick = () => {
  if (report.offset + pageRows < report.total) { report.offset += pageRows; loadReports(false); }
};
// Typing reads the rows once it pauses; a read asked for sooner (another day,
// tab or page) takes the filter as it stands in the box.
let filterTimer = null;
function takeTypedFilter() {
  clearTimeout(filterTimer);
  const typed = filterTerms($("filter").value);
  if (typed !== report.filter) {
    report.filter = typed;
    report.offset = 0;
  }
}
$("filter").oninput = () => {
  clearTimeout(filterTimer);
  filterTimer = setTimeout(() => loadReports(false), 250);
};

// The fleets of the shown day or period; one chosen is added to the filter's terms.
async function loadFleets() {
  const from = when.from, to = when.to;
  const { status, data } = await api("GET", "/api/summary?" + new URLSearchParams({ from, to, per: "fleet", limit: 1000 }));
  if (from !== when.from || to !== when.to) return;
  const select = $("fleet");
  select.replaceChildren(select.options[0]);
  if (status !== 200 || !data || !Array.isArray(data.rows)) return;
  for (const row of data.rows) {
    if (!row.fleet) continue;
    const option = element("option", row.fleet + "（" + row.vehicles + " 辆）");
    option.value = row.fleet;
    select.append(option);
  }
}
$("fleet").onchange = () => {
  const fleet = $("fleet").value;
  $("fleet").value = "";
  const terms = filterTerms($("filter").value).split(" ").filter((t) => t !== "");
  if (!fleet || terms.includes(fleet)) return;
  $("filter").value = terms.concat(fleet).join(" ");
  $("filter").oninput();
};

// With a token the file is fetched with it and handed to the browser; without, the link downloads itself.
async function download(event) {
  if (!token) return;
  event.preventDefault();
  const link = event.currentTarget;
  const response = await fetch(link.href, { headers: headers() });
  if (!response.ok) { showAnswer("导出失败：" + response.status, true); return; }
  const name = /filename="([^"]+)"/.exec(response.headers.get("Content-Disposition") || "");
  const url = URL.createObjectURL(await response.blob());
  const a = element("a");
  a.href = url;
  a.download = name ? name[1] : "report";
  a.click();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}
$("export-csv").onclick = download;
$("export-xlsx").onclick = download;
