"use strict";
// Asking the service for runs: the day fields and buttons, the road import,
// the token row and cancelling a waiting run; the answer line under them.

function showAnswer(text, refused) {
  const answer = $("answer");
  answer.textContent = text;
  answer.className = refused ? "refused" : "";
}

async function submit(path, body) {
  const { status, data } = await api("POST", path, body);
  if (status === 202) showAnswer("已加入队列（编号 " + data.id + "）", false);
  else showAnswer((data && data.error) || ("请求失败：" + status), true);
  refresh();
}

// An empty day field proposes yesterday: shown as the placeholder, sent when the field is left empty.
// The day is sent as typed (yyyy-mm-dd or yyyymmdd); the service's answer says what it refused.
$("day").placeholder = shownDay(yesterdayKey());
$("day").title = "空着时计算昨天 " + shownDay(yesterdayKey());
$("run-day").onclick = () => {
  if ($("day").value.trim() === "") $("day").value = $("day").placeholder;
  const day = $("day").value.trim();
  const key = day.replace(/^(\d{4})-(\d{2})-(\d{2})$/, "$1$2$3");
  if (/^\d{8}$/.test(key)) showMonth(key);
  submit("/api/run-day", { day });
};
$("run-days").onclick = () => submit("/api/run-days", { from: $("from").value.trim(), to: $("to").value.trim() });
$("import-roads").onclick = () => $("import-dialog").showModal();
$("import-confirm").onclick = () => { $("import-dialog").close(); submit("/api/import-roads", {}); };
$("import-cancel").onclick = () => $("import-dialog").close();
$("save-token").onclick = () => {
  token = $("token").value;
  localStorage.setItem("cuserver-token", token);
  $("token-row").style.display = "none";
  refresh();
  loadMap();
  loadCalendar();
};

async function cancelRun(id) {
  const { status, data } = await api("DELETE", "/api/queue/" + id);
  if (status === 200) showAnswer("已取消等待的运行（编号 " + id + "）", false);
  else showAnswer((data && data.error) || ("取消失败：" + status), true);
  refresh();
}
