"use strict";
// The calendar: three months of days coloured by their ledger state; a click
// on a day shows its reports, the shown day or period is outlined.

// The day ledger's states, as /api/days names them (status.js shows them too), and their legend.
const dayStates = {
  "complete": ["完成", "day-complete", "complete", "#3fa34d"],
  "incomplete": ["未完成", "day-incomplete", "incomplete", "#f0b429"],
  "failed": ["失败", "day-failed", "failed", "#d64545"],
  "waiting for an operator": ["等待操作员", "day-waiting", "waiting", "#8e1b1b"],
  "running": ["正在计算", "day-running", "running", "#2b6cb0"],
  "interrupted": ["中断", "day-interrupted", "interrupted", "#9f7aea"],
  "not computed": ["未计算", "day-not-computed", "not-computed", "#fff"],
  "no GPS table": ["没有GPS表", "day-no-gps", "no-gps", "#eceef1"],
};
for (const [text, , , colour] of Object.values(dayStates)) {
  const span = element("span", text);
  span.style.setProperty("--c", colour);
  $("legend").appendChild(span);
}

// Three months up to the shown month, one ledger read for them.
let calendarMonth = new Date(new Date().getFullYear(), new Date().getMonth(), 1);
let selectedDay = null;
let dayRecords = {};

function showMonth(key) {
  const d = dateOf(key);
  const month = new Date(d.getFullYear(), d.getMonth(), 1);
  if (month.getTime() === calendarMonth.getTime()) return;
  calendarMonth = month;
  loadCalendar();
}

function dayTooltip(key, record) {
  if (!record) return shownDay(key);
  const [text] = dayStates[record.state] || [record.state];
  let tip = shownDay(key) + "  " + text;
  if (record.attempts) tip += "\n尝试 " + record.attempts + " 次";
  if (record.ended) tip += "\n最后结束 " + record.ended;
  if (record.detail) tip += "\n" + record.detail;
  return tip;
}

let calendarRead = 0;
async function loadCalendar() {
  const last = new Date(calendarMonth.getFullYear(), calendarMonth.getMonth() + 1, 0);
  const first = new Date(calendarMonth.getFullYear(), calendarMonth.getMonth() - 2, 1);
  $("cal-month").value = calendarMonth.getFullYear() + "-" + pad(calendarMonth.getMonth() + 1);
  const today = dayKey(new Date());
  const to = dayKey(last) < today ? dayKey(last) : today;
  const read = ++calendarRead;
  dayRecords = {};
  if (dayKey(first) <= to) {
    try {
      const { status, data } = await api("GET", "/api/days?from=" + dayKey(first) + "&to=" + to);
      if (read !== calendarRead) return;
      if (status === 200 && Array.isArray(data)) for (const d of data) dayRecords[d.day] = d;
      else $("day-detail").textContent = "读不到日期状态：" + ((data && data.error) || status);
    } catch (e) { return; }
  }
  const calendar = $("calendar");
  calendar.replaceChildren();
  for (let m = 0; m < 3; ++m) {
    const month = new Date(first.getFullYear(), first.getMonth() + m, 1);
    const box = element("div", null, "month");
    box.appendChild(element("h3", month.getFullYear() + " 年 " + (month.getMonth() + 1) + " 月"));
    const grid = element("div", null, "month-grid");
    for (const w of ["一", "二", "三", "四", "五", "六", "日"]) grid.appendChild(element("span", w, "weekday"));
    for (let i = 0; i < (month.getDay() + 6) % 7; ++i) grid.appendChild(element("span"));
    for (let d = new Date(month); d.getMonth() === month.getMonth(); d.setDate(d.getDate() + 1)) {
      const key = dayKey(d);
      const record = dayRecords[key];
      const button = element("button", d.getDate());
      button.type = "button";
      button.dataset.day = key;
      if (key >= today) {
        button.className = "state-future";
        button.disabled = true;
      } else {
        const state = record ? (dayStates[record.state] || [])[2] : null;
        button.className = "state-" + (state || "no-gps");
        if (record) button.dataset.state = record.state;
        button.title = dayTooltip(key, record);
        button.onclick = () => { showDay(key); foldCalendar(true); };
      }
      grid.appendChild(button);
    }
    box.appendChild(grid);
    calendar.appendChild(box);
  }
  markCalendar();
}

function showDayDetail() {
  $("day-detail").textContent = selectedDay ? "已选 " + dayTooltip(selectedDay, dayRecords[selectedDay]).replace(/\n/g, "；") : "";
}

function moveMonth(step) {
  calendarMonth = new Date(calendarMonth.getFullYear(), calendarMonth.getMonth() + step, 1);
  loadCalendar();
}
$("cal-prev").onclick = () => moveMonth(-1);
$("cal-next").onclick = () => moveMonth(1);
$("cal-month").onchange = () => {
  const [y, m] = $("cal-month").value.split("-").map(Number);
  if (y && m) { calendarMonth = new Date(y, m - 1, 1); loadCalendar(); }
};

function markCalendar() {
  for (const b of document.querySelectorAll("#calendar button[data-day]")) {
    b.classList.toggle("selected", when.from !== null && b.dataset.day >= when.from && b.dataset.day <= when.to);
  }
  showDayDetail();
}
