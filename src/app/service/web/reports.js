"use strict";
// The reports of the selected day: one tab per kind, a page of rows,
// sorting, filtering and the CSV/XLSX export.

const kinds = [
  ["mileage", "里程"], ["speeding", "超速"], ["parking", "停车"],
  ["fatigue", "疲劳驾驶"], ["lostcontact", "失去联系"], ["linealarms", "路段报警"], ["quality", "数据质量"],
];
// The same captions as src/reports/report_captions.cpp, which heads the CSV and XLSX files: change both together.
const columnNames = {
  SIMID: "SIM卡号", LICENSEPLATE: "车牌", MOTORCADENAME: "车队", BEGINTIME: "开始时间", TIMELOG: "开始时间",
  ENDTIME: "结束时间", DISTANCE: "里程（公里）", TOTTIME: "时长（秒）", SPEED: "最高速度（公里/时）",
  REMARK: "备注", LONGITUDE: "经度", LATITUDE: "纬度", STOPADD: "停车时长", ADDTIME: "连续驾驶（秒）",
  fixes: "定位点", withoutPosition: "无位置", otherDay: "非当日", sameTime: "同一时刻", backwards: "时间倒退", jumps: "跳点",
};
// The quality tab lists only the vehicles whose tracker sent something the reports cannot take at face value.
const kindParams = (kind) => kind === "quality" ? { kind, flagged: "1" } : { kind };
const pageRows = 100;
const report = { kind: "mileage", offset: 0, total: 0, filter: "", sort: "", order: "asc", columns: [], rows: [] };
const kindCounts = {};

for (const [kind, name] of kinds) {
  const tab = element("button", name);
  tab.type = "button";
  tab.setAttribute("role", "tab");
  tab.dataset.kind = kind;
  tab.setAttribute("aria-selected", String(kind === report.kind));
  tab.onclick = () => {
    if (report.kind === kind) return;
    report.kind = kind;
    report.offset = 0;
    report.sort = "";
    for (const t of $("tabs").children) t.setAttribute("aria-selected", String(t.dataset.kind === kind));
    loadReports(false);
  };
  $("tabs").appendChild(tab);
}

function reportQuery(paged) {
  const q = new URLSearchParams({ day: selectedDay, ...kindParams(report.kind) });
  if (report.filter) q.set("filter", report.filter);
  if (report.sort) { q.set("sort", report.sort); q.set("order", report.order); }
  if (paged) { q.set("offset", report.offset); q.set("limit", pageRows); }
  return q.toString();
}

function showTabCounts() {
  for (const tab of $("tabs").children) {
    const name = kinds.find((k) => k[0] === tab.dataset.kind)[1];
    const n = kindCounts[tab.dataset.kind];
    tab.textContent = n == null ? name : name + "（" + n + "）";
  }
}

// The tab counts and the fleet line; without /api/summary the counts come from each kind's total.
async function loadSummary(day) {
  const { status, data } = await api("GET", "/api/summary?day=" + day);
  if (day !== selectedDay) return;
  if (status === 200 && data && data.kinds) {
    Object.assign(kindCounts, data.kinds);
    $("summary").textContent = "车队概况：有定位的车辆 " + data.vehicles + " 辆，共行驶 " +
      Number(data.kilometres).toFixed(1) + " 公里，超速 " + data.speedingEpisodes + " 次，停车 " + data.stops + " 次";
  } else {
    $("summary").textContent = "";
    await Promise.all(kinds.map(async ([kind]) => {
      const r = await api("GET", "/api/reports?" + new URLSearchParams({ day, ...kindParams(kind), limit: 0 }));
      if (r.status === 200 && r.data) kindCounts[kind] = r.data.total;
    }));
    if (day !== selectedDay) return;
  }
  showTabCounts();
}

let reportRead = 0;
async function loadReports(withSummary) {
  if (!selectedDay) return;
  $("report-day").textContent = shownDay(selectedDay);
  if (withSummary) {
    for (const k of Object.keys(kindCounts)) delete kindCounts[k];
    showTabCounts();
    loadSummary(selectedDay);
  }
  const read = ++reportRead;
  $("report-info").textContent = "正在读取…";
  let answer;
  try {
    answer = await api("GET", "/api/reports?" + reportQuery(true));
  } catch (e) {
    answer = { status: 0, data: null };
  }
  if (read !== reportRead) return;
  const { status, data } = answer;
  if (status !== 200 || !data) {
    report.rows = [];
    report.total = 0;
    renderReport();
    $("report-info").textContent = "读不到报表：" + ((data && data.error) || status);
    return;
  }
  report.columns = data.columns;
  report.rows = data.rows;
  report.total = data.total;
  if (!report.filter) { kindCounts[report.kind] = data.total; showTabCounts(); }
  renderReport();
  if (data.tableMissing) $("report-info").textContent = "没有这张表（" + data.table + "）";
}

const numericColumns = new Set(["DISTANCE", "TOTTIME", "SPEED", "LONGITUDE", "LATITUDE", "ADDTIME",
  "fixes", "withoutPosition", "otherDay", "sameTime", "backwards", "jumps"]);

function renderReport() {
  const head = $("report").tHead.rows[0];
  head.replaceChildren();
  report.columns.forEach((column) => {
    const th = element("th", (column === "REMARK" && report.kind === "speeding" ? "道路" : columnNames[column] || column));
    th.title = column + "（点击排序）";
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
  const body = $("report").tBodies[0];
  body.replaceChildren();
  report.rows.forEach((values) => {
    const row = document.createElement("tr");
    values.forEach((v, i) => cell(row, v, numericColumns.has(report.columns[i]) ? "num" : ""));
    if (values[0] === track.simId) row.classList.add("vehicle");
    row.onclick = () => chooseRow(row, values);
    body.appendChild(row);
  });
  const pages = Math.max(1, Math.ceil(report.total / pageRows));
  const page = Math.floor(report.offset / pageRows) + 1;
  $("page-info").textContent = "第 " + page + "/" + pages + " 页";
  $("page-prev").disabled = page <= 1;
  $("page-next").disabled = page >= pages;
  $("report-info").textContent = report.total === 0
    ? (report.filter ? "没有符合筛选的行"
      : report.kind === "quality" ? "这一天没有数据有问题的车辆" : "这一天没有这种报表的行")
    : "共 " + report.total + " 行" + (report.filter ? "（已筛选）" : "") + "，显示第 " + (report.offset + 1) + "–" +
      (report.offset + report.rows.length) + " 行；点一行在地图上看这辆车的轨迹";
  for (const [id, ext] of [["export-csv", ".csv"], ["export-xlsx", ".xlsx"]]) {
    const link = $(id);
    link.href = "/api/reports" + ext + "?" + reportQuery(false);
    link.setAttribute("aria-disabled", String(!selectedDay));
  }
}

$("page-prev").onclick = () => { report.offset = Math.max(0, report.offset - pageRows); loadReports(false); };
$("page-next").onclick = () => {
  if (report.offset + pageRows < report.total) { report.offset += pageRows; loadReports(false); }
};
let filterTimer = null;
$("filter").oninput = () => {
  clearTimeout(filterTimer);
  filterTimer = setTimeout(() => {
    report.filter = $("filter").value.trim();
    report.offset = 0;
    loadReports(false);
  }, 250);
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
