"use strict";
// How the page writes numbers: kilometres with two decimals, durations as
// hours:minutes, coordinates with six decimals; the columns' captions with
// their units, as the CSV and XLSX files head them.

// The same captions as src/reports/report_captions.cpp, which heads the CSV and XLSX files: change both together.
// Durations are shown as hours:minutes, under the caption the workbook gives them.
const columnNames = {
  SIMID: "SIM卡号", LICENSEPLATE: "车牌", MOTORCADENAME: "车队", BEGINTIME: "开始时间", TIMELOG: "开始时间",
  ENDTIME: "结束时间", DISTANCE: "里程（公里）", TOTTIME: "时长（时:分）", SPEED: "最高速度（公里/时）",
  REMARK: "备注", LONGITUDE: "经度", LATITUDE: "纬度", STOPADD: "停车时长", ADDTIME: "连续驾驶（时:分）",
  fixes: "定位点", withoutPosition: "无位置", otherDay: "非当日", sameTime: "同一时刻", backwards: "时间倒退", jumps: "跳点",
};

// Each numeric column's way of writing its value; a column not named here is text.
const kilometres = (v) => Number(v).toFixed(2);
const count = (v) => String(Math.round(Number(v)));
function hoursMinutes(seconds) {
  const minutes = Math.floor(Number(seconds) / 60);
  return Math.floor(minutes / 60) + ":" + pad(minutes % 60);
}
const degrees = (v) => Number(v).toFixed(6);
const columnFormats = {
  DISTANCE: kilometres, TOTTIME: hoursMinutes, SPEED: (v) => String(Number(v)), ADDTIME: hoursMinutes,
  LONGITUDE: degrees, LATITUDE: degrees,
  fixes: count, withoutPosition: count, otherDay: count, sameTime: count, backwards: count, jumps: count,
};

// A value as its column shows it; null when the column is text or the value no number.
function formatted(column, value) {
  const format = columnFormats[column];
  if (!format || value === null || value === "" || !isFinite(Number(value))) return null;
  return format(value);
}

// A table cell of a column, right-aligned when it holds a number; a time of the shown day is shown without its date.
const timeColumns = new Set(["BEGINTIME", "ENDTIME", "TIMELOG"]);
function valueCell(row, column, value) {
  if (timeColumns.has(column) && oneDay() && String(value).startsWith(shownDay(when.from) + " ")) {
    const td = cell(row, String(value).slice(11));
    td.title = value;
    return td;
  }
  const shown = formatted(column, value);
  if (shown === null) return cell(row, value);
  const td = cell(row, shown, "num");
  if (shown !== String(value)) td.title = String(value);
  return td;
}
