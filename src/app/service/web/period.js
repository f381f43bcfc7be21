"use strict";
// What the reports show: one day or a period (本周, 上周, 本月, 上月 or from/to
// typed or picked), the date fields' pickers, and the notice of the days in it
// that have no complete reports, with the button that computes them.

const when = { period: "day", from: null, to: null };
const oneDay = () => when.from !== null && when.from === when.to;

// A day as operators write it, yyyy-mm-dd or yyyymmdd, as its key; null when it is no date.
function parseDay(text) {
  const m = /^\s*(\d{4})-?(\d{2})-?(\d{2})\s*$/.exec(text || "");
  if (!m) return null;
  const key = m[1] + m[2] + m[3];
  return dayKey(dateOf(key)) === key ? key : null;
}

const addDays = (key, n) => { const d = dateOf(key); d.setDate(d.getDate() + n); return dayKey(d); };
const weekday = (key) => "日一二三四五六"[dateOf(key).getDay()];

// A named period around today, as [from, to]; this week and month end yesterday, the last day a run can have
// computed (on their first day, the period is that day).
function namedPeriod(name) {
  const today = dayKey(new Date());
  const monday = addDays(today, -((dateOf(today).getDay() + 6) % 7));
  const first = today.slice(0, 6) + "01";
  const sofar = (from) => [from, addDays(today, -1) < from ? from : addDays(today, -1)];
  switch (name) {
    case "this-week": return sofar(monday);
    case "last-week": return [addDays(monday, -7), addDays(monday, -1)];
    case "this-month": return sofar(first);
    case "last-month": { const last = addDays(first, -1); return [last.slice(0, 6) + "01", last]; }
  }
  return null;
}

function showWhen() {
  for (const b of $("periods").children) b.setAttribute("aria-pressed", String(b.dataset.period === when.period));
  $("day-fields").hidden = when.period !== "day";
  $("period-fields").hidden = when.period === "day";
  $("when-error").textContent = "";
  if (!when.from) { $("report-day").textContent = ""; return; }
  if (oneDay()) $("report-date").value = shownDay(when.from);
  $("period-from").value = shownDay(when.from);
  $("period-to").value = shownDay(when.to);
  const days = Math.round((dateOf(when.to) - dateOf(when.from)) / 86400000) + 1;
  $("report-day").textContent = oneDay() ? shownDay(when.from) + "（星期" + weekday(when.from) + "）"
    : shownDay(when.from) + " 至 " + shownDay(when.to) + "（" + days + " 天）";
}

// Shows the reports of from..to; a new period starts at its first page with no vehicle chosen.
function showPeriod(from, to) {
  when.from = from;
  when.to = to;
  periodStates = [];
  selectedDay = oneDay() ? from : null;
  if (selectedDay) $("day").value = selectedDay;
  showWhen();
  showMonth(to);
  markCalendar();
  // A period opens on its summary.
  if (oneDay()) report.vehicle = null;
  else selectTab("summary");
  report.offset = 0;
  clearTrack();
  loadReports(true);
}

function showDay(key) {
  when.period = "day";
  showPeriod(key, key);
}

for (const button of $("periods").children) {
  button.onclick = () => {
    when.period = button.dataset.period;
    if (when.period === "day") { showDay(when.from || yesterdayKey()); return; }
    const named = namedPeriod(when.period);
    if (named) showPeriod(named[0], named[1]);
    else { showWhen(); $("period-from").focus(); }
  };
}

function showTyped() {
  if (when.period === "day") {
    const key = parseDay($("report-date").value);
    if (key) showDay(key);
    else $("when-error").textContent = "日期应写作 yyyy-mm-dd 或 yyyymmdd";
    return;
  }
  const from = parseDay($("period-from").value), to = parseDay($("period-to").value);
  if (!from || !to) $("when-error").textContent = "日期应写作 yyyy-mm-dd 或 yyyymmdd";
  else if (from > to) $("when-error").textContent = "开始日期在结束日期之后";
  else { when.period = "custom"; showPeriod(from, to); }
}
for (const id of ["report-date", "period-from", "period-to"]) {
  $(id).addEventListener("keydown", (event) => { if (event.key === "Enter") showTyped(); });
}
$("report-date").addEventListener("change", showTyped);
$("period-show").onclick = showTyped;
$("day-prev").onclick = () => showDay(addDays(when.from || yesterdayKey(), -1));
$("day-next").onclick = () => showDay(addDays(when.from || yesterdayKey(), 1));
// The calendar folds away once a day is picked in it, leaving the first screen to the reports.
function foldCalendar(fold) {
  $("calendar-panel").hidden = fold;
  $("calendar-toggle").setAttribute("aria-expanded", String(!fold));
  $("calendar-toggle").textContent = fold ? "日历 ▾" : "日历 ▴";
}
$("calendar-toggle").onclick = () => foldCalendar(!$("calendar-panel").hidden);

// Every date field takes typing and has a picker beside it.
for (const input of document.querySelectorAll("input.date")) {
  const picker = element("input", null, "picker");
  picker.type = "date";
  picker.tabIndex = -1;
  picker.setAttribute("aria-hidden", "true");
  const button = element("button", "▾", "pick");
  button.type = "button";
  button.title = "选择日期";
  button.setAttribute("aria-label", "选择日期");
  button.onclick = () => {
    const key = parseDay(input.value);
    picker.value = key ? shownDay(key) : "";
    picker.showPicker();
  };
  picker.onchange = () => {
    if (!picker.value) return;
    input.value = picker.value;
    input.dispatchEvent(new Event("change"));
  };
  input.after(button, picker);
}

// The days of the shown period whose reports are not complete, from the day ledger.
let periodStates = [];
const dayNotes = {
  "not computed": "这一天还没有计算，报表是空的。服务第一次启动以前的日子不会自动计算，需要时请点“计算这一天”。",
  "failed": "这一天的计算失败了。",
  "incomplete": "这一天的计算没有完成，报表不全。",
  "interrupted": "这一天的计算被中断了，报表不全。",
  "waiting for an operator": "这一天多次计算失败，等待操作员处理。",
  "running": "这一天正在计算，报表还不全。",
  "no GPS table": "没有这一天的GPS表。",
};

async function loadDayStates() {
  const from = when.from, to = when.to;
  let records = [];
  try {
    const { status, data } = await api("GET", "/api/days?from=" + from + "&to=" + to);
    if (status === 200 && Array.isArray(data)) records = data;
  } catch (e) { /* the notice stays as it was */ }
  if (from !== when.from || to !== when.to) return;
  periodStates = records.filter((d) => d.state !== "complete");
  showDayNotice();
}

function computeButton(day) {
  const button = element("button", oneDay() ? "计算这一天" : "计算 " + shownDay(day));
  button.type = "button";
  button.className = "compute-day";
  button.dataset.day = day;
  button.onclick = () => submit("/api/run-day", { day: shownDay(day) });
  return button;
}

function showDayNotice() {
  showTabCounts();
  const notice = $("day-notice");
  notice.replaceChildren();
  notice.hidden = periodStates.length === 0;
  if (notice.hidden) return;
  if (oneDay()) {
    const d = periodStates[0];
    notice.dataset.state = d.state;
    const [text] = dayStates[d.state] || [d.state];
    notice.append(element("strong", shownDay(d.day) + " " + text), element("span", dayNotes[d.state] || ""));
    if (d.detail) notice.append(element("span", "（" + d.detail + "）"));
    if (d.state !== "running") notice.append(computeButton(d.day));
    return;
  }
  notice.dataset.state = "period";
  notice.append(element("span", "这段时间有 " + periodStates.length + " 天没有完整的报表，它们的报表不全或没有" +
    "（服务第一次启动以前的日子只在请求时计算）："));
  for (const d of periodStates.slice(0, 10)) {
    const [text] = dayStates[d.state] || [d.state];
    const item = element("span", shownDay(d.day) + " " + text, "notice-day");
    if (d.state !== "running") item.append(computeButton(d.day));
    notice.append(item);
  }
  if (periodStates.length > 10) notice.append(element("span", "…（其余的日子在日历里）"));
}
