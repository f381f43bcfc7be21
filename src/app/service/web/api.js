"use strict";
// The control page's scripts are classic scripts run in the order
// control_page.html lists them, sharing one global scope; only start.js
// starts anything. This one: talking to the service's API (with the token the
// operator saved), building table cells, and the yyyymmdd day keys.

const $ = (id) => document.getElementById(id);
let token = localStorage.getItem("cuserver-token") || "";

function headers(extra) {
  const h = Object.assign({}, extra || {});
  if (token) h["Authorization"] = "Bearer " + token;
  return h;
}

async function api(method, path, body) {
  const init = { method, headers: headers(body === undefined ? {} : { "Content-Type": "application/json" }) };
  if (body !== undefined) init.body = JSON.stringify(body);
  const response = await fetch(path, init);
  if (response.status === 401 || response.status === 429) $("token-row").style.display = "flex";
  let data = null;
  try { data = await response.json(); } catch (e) { data = null; }
  return { status: response.status, data };
}

function element(tag, text, cls) {
  const e = document.createElement(tag);
  if (text != null) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}

function cell(row, text, cls) {
  const td = element("td", text == null ? "" : text, cls);
  row.appendChild(td);
  return td;
}

// Day keys are yyyymmdd; the page works on local calendar dates.
const pad = (n) => String(n).padStart(2, "0");
const dayKey = (d) => d.getFullYear() + pad(d.getMonth() + 1) + pad(d.getDate());
const dateOf = (key) => new Date(Number(key.slice(0, 4)), Number(key.slice(4, 6)) - 1, Number(key.slice(6, 8)));
const shownDay = (key) => key.slice(0, 4) + "-" + key.slice(4, 6) + "-" + key.slice(6, 8);
function yesterdayKey() { const d = new Date(); d.setDate(d.getDate() - 1); return dayKey(d); }
