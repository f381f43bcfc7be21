"use strict";
// What the service is doing, from /api/status every second: the caption and
// progress bar, the queue, the last runs, messages and the run log; and the
// last seven days from the day ledger.

// The service's start-up caption says it goes on to process data; once
// nothing runs or waits, that is no longer true.
const startCaption = "连接数据库成功—进行数据处理！";

function progressText(s) {
  const p = s.progress || {};
  if (!s.current) return "空闲";
  const parts = [];
  if (p.days > 1 && p.day > 0) parts.push("第 " + p.day + "/" + p.days + " 天");
  if (p.total > 0) parts.push("已算 " + Math.max(p.done, 0) + "/" + p.total + " 辆车");
  return parts.join("，") || "正在运行";
}

// The night run starts at the first tick after 02:00 and computes yesterday.
// The service tells when on its own clock; older services do not, and the
// browser's clock stands in.
function nextRunText(s) {
  if (s.nextRun) {
    let text = "下次计划计算：" + s.nextRun.slice(0, 16) + " 后" + (s.nextRunDay ? "，计算 " + s.nextRunDay : "") + "（服务器时间）";
    if (s.pendingDay) text += "；待算日期 " + s.pendingDay;
    return text;
  }
  const now = new Date();
  const next = new Date(now);
  next.setHours(2, 0, 0, 0);
  if (now >= next) next.setDate(next.getDate() + 1);
  const day = new Date(next); day.setDate(day.getDate() - 1);
  let text = "下次计划计算：" + shownDay(dayKey(next)) + " 02:00 后，计算 " + dayKey(day) + "（本机时间）";
  if (s.pendingDay) text += "；待算日期 " + s.pendingDay;
  return text;
}

function render(s) {
  const idle = !s.current && s.queue.length === 0;
  const caption = idle && s.caption === startCaption ? "连接数据库成功—空闲，等待计算" : s.caption;
  $("caption").textContent = caption;
  document.title = caption;
  const p = s.progress;
  $("progress").style.width = s.current && p.total > 0 ? (100 * Math.max(p.done, 0) / p.total) + "%" : "0";
  $("progress-text").textContent = progressText(s);
  $("about").textContent = s.about + (s.version ? "（程序版本 " + s.version + "）" : "");
  // Road speeding is not computed while report.ini gives no sound limit.
  const fault = $("settings-fault");
  fault.hidden = !s.settingsFault;
  fault.textContent = s.settingsFault ? "没有自己限速的车辆不计算超速报表，请修改 report.ini：" + s.settingsFault : "";

  const queue = $("queue");
  queue.replaceChildren();
  if (s.current) {
    const row = document.createElement("tr");
    cell(row, "正在运行"); cell(row, s.current.label); cell(row, "开始 " + s.current.started); cell(row, "");
    queue.appendChild(row);
  }
  for (const job of s.queue) {
    const row = document.createElement("tr");
    row.dataset.id = job.id == null ? "" : job.id;
    cell(row, "等待"); cell(row, job.label); cell(row, "请求 " + job.requested);
    const td = cell(row, "");
    if (job.id != null) {
      const button = element("button", "取消");
      button.type = "button";
      button.className = "cancel";
      button.title = "取消这个等待的运行（编号 " + job.id + "）";
      button.onclick = () => cancelRun(job.id);
      td.appendChild(button);
    }
    queue.appendChild(row);
  }
  if (idle) {
    const row = document.createElement("tr");
    cell(row, "空闲"); cell(row, s.pendingDay ? "待算日期 " + s.pendingDay : "");
    queue.appendChild(row);
  }
  $("next-run").textContent = nextRunText(s);
  renderDelivery(s.delivery);

  const runs = $("runs");
  runs.replaceChildren();
  for (const job of s.lastRuns) {
    const row = document.createElement("tr");
    row.dataset.id = job.id;
    cell(row, job.label); cell(row, job.started); cell(row, job.ended);
    if (job.outcome === "succeeded") {
      cell(row, (job.outcomeText || "成功") + (job.detail ? "：" + job.detail : ""), "succeeded").title = job.outcome;
    } else if (job.outcome === "cancelled") {
      const td = cell(row, "");
      const badge = element("span", job.outcomeText || "已取消", "badge grey");
      badge.title = job.outcome;
      td.append(badge, element("span", job.detail || ""));
    } else {
      // Anything not written is shown as a failure at a glance, with why.
      const td = cell(row, "", "run-failed");
      const badge = element("span", job.outcome === "incomplete" ? "未完成" : job.outcomeText || "失败", "badge");
      badge.title = job.outcome;
      td.append(badge, element("span", job.detail || job.outcome, "run-detail"));
    }
    runs.appendChild(row);
  }
  const lastRun = s.lastRuns.length ? s.lastRuns[0].id : null;
  if (lastRun !== shownLastRun) {
    shownLastRun = lastRun;
    refreshDays();
    loadCalendar();
    if (when.from) loadReports(true);
  }

  const messages = $("messages");
  messages.replaceChildren();
  for (const m of s.messages.slice().reverse()) {
    messages.appendChild(element("div", m.time + "  " + m.text, m.level));
  }
  $("runlog").textContent = s.runLog.join("\n");
}

// The last e-mail delivery of [Delivery], a line under the next run; a
// failed one stands out with why and how often it was tried.
function renderDelivery(d) {
  let line = $("delivery");
  if (!line) {
    line = element("div", "", "hint");
    line.id = "delivery";
    $("next-run").after(line);
  }
  line.hidden = !d;
  if (!d) return;
  const sent = d.outcome === "sent";
  line.className = sent ? "hint" : "hint run-failed";
  line.textContent = "最近发送报表：" + d.period + " " + (d.outcomeText || d.outcome) +
    (sent ? "" : "（已试 " + d.attempts + " 次）") + "，" + d.at + (d.detail ? "：" + d.detail : "");
}

// The last seven days, read again when a run ends and every half minute.
let shownLastRun;
async function refreshDays() {
  try {
    const { status, data } = await api("GET", "/api/days");
    if (status !== 200 || !Array.isArray(data)) return;
    const days = $("days");
    days.replaceChildren();
    for (const d of data.slice().reverse()) {
      const row = document.createElement("tr");
      const [text, cls] = dayStates[d.state] || [d.state, ""];
      cell(row, d.day); cell(row, text, cls); cell(row, d.attempts || ""); cell(row, d.ended); cell(row, d.detail);
      row.children[1].title = d.state;
      days.appendChild(row);
    }
  } catch (e) { /* the caption already says when the service does not answer */ }
}

let refreshing = false;
async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    const { status, data } = await api("GET", "/api/status");
    if (status === 200) render(data);
  } catch (e) {
    $("caption").textContent = "（服务没有回应）";
  } finally {
    refreshing = false;
  }
}
