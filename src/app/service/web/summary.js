"use strict";
// The 汇总 tab: the shown day or period summed per vehicle, per day or per
// fleet, with its totals; a vehicle's row opens its days in the period, a
// day's row opens that day, a fleet's row filters by the fleet.

// The summary's fields in the order shown, with their captions and formats; the files the export writes head
// them the same way.
const summaryFields = {
  simId: ["SIM卡号"], licensePlate: ["车牌"], fleet: ["车队"], day: ["日期"],
  days: ["天数", count], vehicles: ["车辆", count], kilometres: ["里程（公里）", kilometres],
  speeding: ["超速（次）", count], speedingSeconds: ["超速时长（时:分）", hoursMinutes],
  parking: ["停车（次）", count], parkingSeconds: ["停车时长（时:分）", hoursMinutes],
  fatigue: ["疲劳驾驶（次）", count], lostContact: ["失去联系（次）", count],
  fixes: ["定位点", count], withoutPosition: ["无位置", count], otherDay: ["非当日", count],
  sameTime: ["同一时刻", count], backwards: ["时间倒退", count], jumps: ["跳点", count],
};
const summaryCounts = ["kilometres", "speeding", "speedingSeconds", "parking", "parkingSeconds", "fatigue", "lostContact",
  "fixes", "withoutPosition", "otherDay", "sameTime", "backwards", "jumps"];

// A vehicle's days are its rows per day.
const summaryPer = () => report.vehicle ? "day" : report.per;

function summaryColumns() {
  switch (summaryPer()) {
    case "day": return report.vehicle ? ["day", ...summaryCounts] : ["day", "vehicles", ...summaryCounts];
    case "fleet": return ["fleet", "vehicles", ...summaryCounts];
    default: return ["simId", "licensePlate", "fleet", "days", ...summaryCounts];
  }
}

function summaryQuery(paged) {
  const q = new URLSearchParams({ from: when.from, to: when.to, per: summaryPer() });
  if (report.vehicle) q.set("vehicle", report.vehicle.simId);
  else if (report.filter) q.set("filter", report.filter);
  if (report.sort) { q.set("sort", report.sort); q.set("order", report.order); }
  if (paged) { q.set("offset", report.offset); q.set("limit", pageRows); }
  return q.toString();
}

function summaryCell(row, field, value) {
  const format = summaryFields[field][1];
  if (field === "day") return cell(row, value ? shownDay(value) : "");
  if (!format || value == null) return cell(row, value);
  return cell(row, format(value), "num");
}

function renderSummary(body) {
  renderHead((field) => summaryFields[field][0]);
  for (const th of $("report").tHead.rows[0].cells) th.classList.toggle("num", !!summaryFields[th.dataset.column][1]);
  for (const values of report.rows) {
    const row = document.createElement("tr");
    for (const field of report.columns) summaryCell(row, field, values[field]);
    row.onclick = () => openSummaryRow(row, values);
    body.appendChild(row);
  }
  if (report.totals && report.rows.length) {
    const row = document.createElement("tr");
    report.columns.forEach((field, i) => {
      if (i === 0) cell(row, report.vehicle ? report.vehicle.licensePlate + " 合计" : "合计");
      else if (summaryCounts.includes(field) || field === "vehicles") summaryCell(row, field, report.totals[field]);
      else cell(row, "");
    });
    $("report").tFoot.appendChild(row);
  }
  if (report.vehicle) {
    $("summary").textContent = (report.vehicle.licensePlate || report.vehicle.simId) + "（" + report.vehicle.simId +
      "）在这段时间每天的行；点一天在地图上看这一天的轨迹";
  }
}

function openSummaryRow(row, values) {
  if (report.vehicle) {
    for (const r of $("report").tBodies[0].querySelectorAll("tr.selected")) r.classList.remove("selected");
    row.classList.add("selected");
    showTrack(values.day, report.vehicle.simId, report.vehicle.licensePlate).then((shown) => { if (shown) fitTrack(); });
  } else if (summaryPer() === "vehicle") {
    report.vehicle = { simId: values.simId, licensePlate: values.licensePlate };
    report.offset = 0;
    report.sort = "";
    loadReports(false);
  } else if (summaryPer() === "day") {
    showDay(values.day);
  } else {
    $("filter").value = values.fleet;
    report.per = "vehicle";
    $("per").value = "vehicle";
    $("filter").oninput();
  }
}

$("per").onchange = () => {
  report.per = $("per").value;
  report.offset = 0;
  report.sort = "";
  loadReports(false);
};
$("back-to-summary").onclick = () => {
  report.vehicle = null;
  report.offset = 0;
  loadReports(true);
};
