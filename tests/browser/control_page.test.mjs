// Drives the control page of a running service in headless Chromium, as an
// operator would: open the page, type a day, click 计算一天 and wait for the
// end caption; then check what was computed: the day in the calendar, its
// reports, a vehicle's track, the exported files, and cancel a waiting run.
// CUSERVER_URL names the page, CUSERVER_DAY the day to run.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, mkdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const url = process.env.CUSERVER_URL;
const day = process.env.CUSERVER_DAY || "20140319";
const screenshots = process.env.CUSERVER_SCREENSHOTS || path.join(tmpdir(), "cuserver-screenshots");
const runTimeoutMs = Number(process.env.CUSERVER_RUN_TIMEOUT_MS || 300000);
assert.ok(url, "CUSERVER_URL must name the control page");

let context;
let page;
let profile;

before(async () => {
  profile = mkdtempSync(path.join(tmpdir(), "cuserver-chromium-"));
  mkdirSync(screenshots, { recursive: true });
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CUSERVER_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
    ],
    viewport: { width: 1280, height: 900 },
  });
  page = context.pages()[0] || (await context.newPage());
});

after(async () => {
  if (context) await context.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

test("the page loads with its fields, its caption and the map", async () => {
  const started = Date.now();
  await page.goto(url, { waitUntil: "load" });
  const loadedMs = Date.now() - started;
  await page.locator("#map .leaflet-overlay-pane path").first().waitFor({ state: "attached", timeout: 30000 });
  const mapMs = Date.now() - started;
  console.log(JSON.stringify({ measure: "page load", loadMs: loadedMs, withMapMs: mapMs }));

  await assert.doesNotReject(page.locator("#day").waitFor());
  assert.equal(await page.locator("#day").getAttribute("type"), "text");
  assert.match(await page.locator("body").innerText(), /格式是：2014-03-19 或 20140319/);
  assert.ok(await page.getByRole("button", { name: "计算连续几天" }).isVisible());
  assert.ok(await page.getByRole("button", { name: "添加道路信息" }).isVisible());
  await page.waitForFunction(() => document.querySelector("#about").textContent.includes("3.0"));
  assert.equal(await page.title(), await page.locator("#caption").innerText());

  // The page opens on the whole map once its fitting has ended (a zoom clicked
  // while the map is still moving is dropped by the map, as for a user).
  const wholeMap = () => map.getZoom() === map.getBoundsZoom(home);
  await page.waitForFunction(wholeMap);
  const before = await page.evaluate(() => map.getZoom());
  await page.getByRole("button", { name: "放大" }).click();
  await page.waitForFunction((before) => map.getZoom() > before, before);
  await page.getByRole("button", { name: "全图" }).click();
  await page.waitForFunction(wholeMap);
});

test("a refused day shows the operator's message", async () => {
  await page.locator("#day").fill("2020-02-30");
  await page.getByRole("button", { name: "计算一天", exact: true }).click();
  await page.waitForFunction(() => document.querySelector("#answer").textContent.includes("日期超出指定范围！(2020-02-30)"));
  assert.match(await page.locator("#answer").innerText(), /yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 \d{4}-\d{2}-\d{2}/);
});

test("a day typed and run through the page ends with the end caption", async () => {
  const endCaption = `${day}数据分析完毕，请查验！`;
  await page.locator("#day").fill(`${day.slice(0, 4)}-${day.slice(4, 6)}-${day.slice(6)}`);  // as operators write it
  const started = Date.now();
  await page.getByRole("button", { name: "计算一天", exact: true }).click();
  await page.waitForFunction(() => document.querySelector("#answer").textContent.includes("已加入队列"));
  await page.waitForFunction((text) => document.querySelector("#caption").textContent === text, endCaption, {
    timeout: runTimeoutMs,
    polling: 250,
  });
  console.log(JSON.stringify({ measure: "day run through the page", day, ms: Date.now() - started }));
  assert.equal(await page.title(), endCaption);
  const lastRun = page.locator("#runs tr").first();
  await lastRun.filter({ hasText: `计算一天 ${day}` }).waitFor();
  assert.match(await lastRun.innerText(), /成功/);
  await page.waitForFunction((d) => document.querySelector("#runlog").textContent.includes(d), day);
  await page.screenshot({ path: path.join(screenshots, "control-page.png"), fullPage: true });
});

test("a day without GPS data ends as a failed run with a red badge and its detail", async () => {
  const failedDay = "20140318";  // the simulated fleet has no fixes that day
  await page.locator("#day").fill(failedDay);
  await page.getByRole("button", { name: "计算一天", exact: true }).click();
  const run = page.locator("#runs tr").filter({ hasText: `计算一天 ${failedDay}` }).first();
  await run.waitFor({ timeout: runTimeoutMs });
  assert.equal(await run.locator(".badge").innerText(), "失败");
  assert.notEqual((await run.locator(".run-detail").innerText()).trim(), "");
  await page.locator("#days tr").first().waitFor();
  await page.screenshot({ path: path.join(screenshots, "control-page-failed-run.png"), fullPage: true });
});

// The API's own answer, to hold the page against.
async function apiJson(pathAndQuery) {
  const response = await fetch(new URL(pathAndQuery, url));
  assert.equal(response.status, 200, pathAndQuery);
  return response.json();
}

const kinds = ["mileage", "speeding", "parking", "fatigue", "lostcontact", "linealarms"];
const shot = (name) => page.screenshot({ path: path.join(screenshots, name + ".png"), fullPage: true });

test("a computed day picked in the calendar shows every report tab with its rows", async () => {
  await page.getByRole("button", { name: "日历 ▾" }).click();
  await page.locator("#cal-month").fill(`${day.slice(0, 4)}-${day.slice(4, 6)}`);
  const dayButton = page.locator(`#calendar button[data-day="${day}"]`);
  await page.waitForFunction((d) => document.querySelector(`#calendar button[data-day="${d}"]`)?.dataset.state === "complete", day);
  assert.match(await dayButton.getAttribute("title"), /完成/);
  await dayButton.click();
  assert.equal(await page.locator("#day").inputValue(), day);
  await shot("calendar-day");

  const tabMs = {};
  for (const kind of kinds) {
    const expected = await apiJson(`/api/reports?day=${day}&kind=${kind}&limit=0`);
    const tab = page.locator(`#tabs [data-kind="${kind}"]`);
    const started = Date.now();
    await tab.click();
    await page.waitForFunction(({ kind, total }) => {
      const tab = document.querySelector(`#tabs [data-kind="${kind}"]`);
      return tab.getAttribute("aria-selected") === "true" && tab.textContent.endsWith(`（${total}）`) &&
        document.querySelectorAll("#report tbody tr").length === Math.min(total, 100) &&
        !document.querySelector("#report-info").textContent.startsWith("正在");
    }, { kind, total: expected.total });
    tabMs[kind] = Date.now() - started;
    const pages = Math.max(1, Math.ceil(expected.total / 100));
    assert.equal(await page.locator("#page-info").innerText(), `第 1/${pages} 页`);
    if (expected.total > 0) {
      // Every row names its vehicle's plate and fleet from the catalogue.
      const first = page.locator("#report tbody tr").first().locator("td");
      assert.notEqual((await first.nth(1).innerText()).trim(), "", `${kind}: plate`);
      assert.notEqual((await first.nth(2).innerText()).trim(), "", `${kind}: fleet`);
    }
    await shot(`report-${kind}`);
  }
  console.log(JSON.stringify({ measure: "report tab to its rows shown", ms: tabMs }));

  // 数据质量: the day's vehicles with a count above 0, as the API flags them.
  const flagged = await apiJson(`/api/reports?day=${day}&kind=quality&flagged=1&limit=0`);
  await page.locator('#tabs [data-kind="quality"]').click();
  await page.waitForFunction((total) => {
    const tab = document.querySelector('#tabs [data-kind="quality"]');
    return tab.getAttribute("aria-selected") === "true" && tab.textContent === `数据质量（${total}）` &&
      document.querySelectorAll("#report tbody tr").length === Math.min(total, 100);
  }, flagged.total);
  assert.equal(await page.locator('#report th[data-column="jumps"]').innerText(), "跳点");
  await shot("report-quality");

  // Sorted by the highest speed, descending, over the whole day; then the last page.
  const { total } = await apiJson(`/api/reports?day=${day}&kind=speeding&limit=0`);
  const speeding = await apiJson(`/api/reports?day=${day}&kind=speeding&limit=${total}`);
  assert.ok(speeding.total > 100, "the day's speeding rows fill more than one page");
  const speedColumn = speeding.columns.indexOf("SPEED");
  const fastest = Math.max(...speeding.rows.map((r) => Number(r[speedColumn])));
  await page.locator('#tabs [data-kind="speeding"]').click();
  const header = page.locator('#report th[data-column="SPEED"]');
  await header.click();
  await page.locator('#report th[data-column="SPEED"]', { hasText: "▲" }).waitFor();
  await header.click();
  await page.locator('#report th[data-column="SPEED"]', { hasText: "▼" }).waitFor();
  await page.waitForFunction(({ column, fastest }) => {
    const first = document.querySelector("#report tbody tr");
    return first && Number(first.cells[column].textContent) === fastest;
  }, { column: speedColumn, fastest });
  await page.getByRole("button", { name: "下一页" }).click();
  await page.waitForFunction((pages) => document.querySelector("#page-info").textContent === `第 2/${pages} 页`,
    Math.ceil(speeding.total / 100));
  await page.waitForFunction((n) => document.querySelectorAll("#report tbody tr").length === n, Math.min(100, speeding.total - 100));
});

test("a vehicle filtered and chosen draws its track with its speeding episodes and stops", async () => {
  // A vehicle that sped that day, and its rows.
  const simId = (await apiJson(`/api/reports?day=${day}&kind=speeding&limit=1`)).rows[0][0];
  const episodes = (await apiJson(`/api/reports?day=${day}&kind=speeding&vehicle=${simId}&limit=0`)).total;
  const stops = (await apiJson(`/api/reports?day=${day}&kind=parking&vehicle=${simId}&limit=0`)).total;

  // A tab clicked as soon as the filter is typed shows the filter's rows at once.
  const shownVehicles = async (kind) => {
    await page.locator(`#tabs [data-kind="${kind}"]`).click();
    await page.waitForFunction(() => !document.querySelector("#report-info").textContent.includes("正在读取"));
    return page.locator("#report tbody tr td:first-child").allInnerTexts();
  };
  await page.locator("#filter").fill(simId);
  const parked = await shownVehicles("parking");
  assert.ok(parked.every((shown) => shown === simId) && parked.length === stops, `${parked.length} rows, ${stops} stops`);
  const sped = await shownVehicles("speeding");
  assert.ok(sped.every((shown) => shown === simId) && sped.length === episodes, `${sped.length} rows, ${episodes} episodes`);

  const plate = await page.locator("#report tbody tr").first().locator("td").nth(1).innerText();
  await page.locator("#report tbody tr").first().click();
  await page.locator("#map path.track").waitFor({ state: "attached" });
  assert.match(await page.locator("#track-info").innerText(), new RegExp(simId));
  assert.equal(await page.locator("#map path.mark.speeding").count(), episodes, "speeding marks = rows");
  assert.equal(await page.locator("#map path.mark.stop").count(), stops, "stop marks = parking rows");
  assert.equal(await page.locator("#map .leaflet-tooltip.plate").innerText(), plate, "the vehicle under its plate");
  // The whole day is in view, the row's place marked on it.
  await page.waitForFunction(() => map.getBounds().contains(track.bounds));  // once the map has moved there
  await page.locator("#map path.focus").waitFor({ state: "attached" });

  await page.locator("#map").hover();
  assert.match(await page.locator("#cursor-pos").innerText(), /经度 \d+\.\d{6}\s+纬度 \d+\.\d{6}/);
  assert.match(await page.locator("#map .leaflet-control-scale").innerText(), /\d+ (米|公里)/);
  await shot("vehicle-track");
});

test("the filtered table downloads as CSV and XLSX and reads back", async () => {
  const filter = await page.locator("#filter").inputValue();
  assert.notEqual(filter, "", "the previous test left a vehicle filter");
  const total = (await apiJson(`/api/reports?day=${day}&kind=speeding&vehicle=${filter}&limit=0`)).total;
  const folder = mkdtempSync(path.join(tmpdir(), "cuserver-downloads-"));
  try {
    const save = async (id) => {
      const [download] = await Promise.all([page.waitForEvent("download"), page.locator(id).click()]);
      const file = path.join(folder, download.suggestedFilename());
      await download.saveAs(file);
      return file;
    };
    const csv = await save("#export-csv");
    assert.equal(path.basename(csv), `speeding-${day}.csv`);
    const bytes = readFileSync(csv);
    assert.deepEqual([...bytes.subarray(0, 3)], [0xef, 0xbb, 0xbf], "UTF-8 byte order mark");
    const lines = bytes.subarray(3).toString("utf8").split(/\r?\n/).filter((l) => l !== "");
    assert.match(lines[0], /^SIM卡号,车牌,车队,开始时间,/, "the page's captions");
    assert.equal(lines.length, total + 1, "header and the filtered rows");
    assert.ok(lines.slice(1).every((l) => l.startsWith(filter)), "only the filtered vehicle's rows");

    const xlsx = await save("#export-xlsx");
    assert.equal(path.basename(xlsx), `speeding-${day}.xlsx`);
    const read = execFileSync("/usr/bin/python3", ["-c", [
      "import json, sys, openpyxl",
      "sheet = openpyxl.load_workbook(sys.argv[1], read_only=True).worksheets[0]",
      "rows = [[c for c in r] for r in sheet.iter_rows(values_only=True)]",
      "print(json.dumps({'name': sheet.title, 'header': rows[1], 'simids': [str(r[0]) for r in rows[2:]]}))",
    ].join("\n"), xlsx]).toString();
    const sheet = JSON.parse(read);
    assert.equal(sheet.name, "超速");
    assert.deepEqual(sheet.header.slice(0, 3), ["SIM卡号", "车牌", "车队"]);
    assert.equal(sheet.simids.length, total);
    assert.ok(sheet.simids.every((s) => s === filter));
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
  await page.locator("#filter").fill("");
});

// A workbook's first sheet as JSON: its rows as values, and the type of each cell of the first data row.
function readWorkbook(file) {
  return JSON.parse(execFileSync("/usr/bin/python3", ["-c", [
    "import json, sys, openpyxl",
    "sheet = openpyxl.load_workbook(sys.argv[1], read_only=True).worksheets[0]",
    "rows = [list(r) for r in sheet.iter_rows(values_only=True)]",
    "print(json.dumps({'rows': rows, 'types': [[type(c).__name__ for c in r] for r in rows]}, default=str))",
  ].join("\n"), file]).toString());
}

const shownKey = (key) => `${key.slice(0, 4)}-${key.slice(4, 6)}-${key.slice(6)}`;

test("a period's summary adds up the stored rows and exports as numbers under the page's headers", async () => {
  await page.getByRole("button", { name: "自定义" }).click();
  await page.locator("#period-from").fill("2014-03-17");
  await page.locator("#period-to").fill("2014-03-23");
  await page.locator("#period-to").press("Enter");
  // Each vehicle's kilometres and speeding count against the day's stored rows.
  const mileage = await apiJson(`/api/reports?day=${day}&kind=mileage&limit=1000`);
  const speeding = await apiJson(`/api/reports?day=${day}&kind=speeding&limit=10000`);
  const km = {}, episodes = {};
  const distance = mileage.columns.indexOf("DISTANCE");
  for (const r of mileage.rows) km[r[0]] = (km[r[0]] || 0) + Number(r[distance]);
  for (const r of speeding.rows) episodes[r[0]] = (episodes[r[0]] || 0) + 1;
  // The previous test's filter was just cleared: its table may still be shown until the whole fleet's arrives.
  await page.waitForFunction((vehicles) => document.querySelector("#report-day").textContent === "2014-03-17 至 2014-03-23（7 天）" &&
    document.querySelector('#tabs [data-kind="summary"]').getAttribute("aria-selected") === "true" &&
    document.querySelector('#report th[data-column="kilometres"]') && document.querySelectorAll("#report tbody tr").length === vehicles,
    Object.keys(km).length);
  // The week's other days have no reports: the notice names them.
  await page.locator("#day-notice").getByText("2014-03-20 未计算").waitFor();

  const headers = await page.locator("#report thead th").allInnerTexts();
  const at = (caption) => headers.indexOf(caption);
  const rows = await page.locator("#report tbody tr").evaluateAll((trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
  assert.equal(rows.length, Object.keys(km).length, "a row per vehicle with mileage");
  for (const row of rows) {
    assert.equal(row[at("里程（公里）")], (km[row[0]] || 0).toFixed(2), `${row[0]}: kilometres`);
    assert.equal(Number(row[at("超速（次）")]), episodes[row[0]] || 0, `${row[0]}: speeding episodes`);
    assert.match(row[at("超速时长（时:分）")], /^\d+:\d{2}$/);
  }
  assert.equal(await page.locator("#report th", { hasText: "里程（公里）" }).evaluate((th) => getComputedStyle(th).textAlign), "right");
  await page.setViewportSize({ width: 1920, height: 1080 });
  await page.screenshot({ path: path.join(screenshots, "period-1920x1080.png") });

  const folder = mkdtempSync(path.join(tmpdir(), "cuserver-downloads-"));
  try {
    const [download] = await Promise.all([page.waitForEvent("download"), page.locator("#export-xlsx").click()]);
    const file = path.join(folder, download.suggestedFilename());
    await download.saveAs(file);
    const book = readWorkbook(file);
    const head = book.rows.findIndex((r) => r[0] === headers[0]);
    assert.ok(head >= 0, "a header row as on the page");
    // The workbook keeps a duration's seconds beside the 时:分 the page shows.
    const bookHeaders = book.rows[head];
    assert.deepEqual(bookHeaders.filter((c) => c !== null && !c.endsWith("（秒）")), headers.map((h) => h.replace(/ [▲▼]$/, "")));
    const data = book.rows.slice(head + 1).filter((r) => r[0] !== null && r[0] !== "合计");
    assert.equal(data.length, rows.length);
    const types = book.types[head + 1];
    assert.ok(["float", "int"].includes(types[bookHeaders.indexOf("里程（公里）")]), "kilometres are a number");
    assert.ok(["int", "float"].includes(types[bookHeaders.indexOf("超速（次）")]), "counts are numbers");
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }

  // A vehicle's row opens its days in the period.
  await page.locator("#report tbody tr").first().click();
  await page.getByRole("button", { name: "返回汇总" }).waitFor();
  await page.waitForFunction((day) => [...document.querySelectorAll("#report tbody tr")].some((tr) => tr.cells[0].textContent === day),
    shownKey(day));
});

test("a day typed as yyyy-mm-dd and never computed says so, and is computed from its notice", async () => {
  const other = process.env.CUSERVER_OTHER_DAY || "20140320";
  await page.getByRole("button", { name: "一天", exact: true }).click();
  await page.locator("#report-date").fill(shownKey(other));
  await page.locator("#report-date").press("Enter");
  const notice = page.locator("#day-notice");
  await notice.getByText(`${shownKey(other)} 未计算`).waitFor();
  assert.match(await notice.innerText(), /服务第一次启动以前的日子/);
  assert.equal(await page.locator('#tabs [data-kind="mileage"]').innerText(), "里程", "no count of a day without reports");

  // At 1366x768 the day, the tabs, the table and the map are on the first screen.
  await page.setViewportSize({ width: 1366, height: 768 });
  await page.evaluate(() => window.scrollTo(0, 0));
  for (const id of ["#when", "#tabs", "#report-wrap", "#map"]) {
    const box = await page.locator(id).boundingBox();
    assert.ok(box.y >= 0 && box.y + Math.min(box.height, 120) <= 768, `${id} is on the first screen`);
  }
  assert.ok((await page.locator("#map").boundingBox()).y + (await page.locator("#map").boundingBox()).height <= 768);
  await page.screenshot({ path: path.join(screenshots, "not-computed-1366x768.png") });

  await notice.getByRole("button", { name: "计算这一天" }).click();
  await page.waitForFunction(() => document.querySelector("#answer").textContent.includes("已加入队列"));
  await page.locator("#runs tr").filter({ hasText: `计算一天 ${other}` }).first().waitFor({ timeout: runTimeoutMs });
  await notice.waitFor({ state: "hidden" });
  await page.waitForFunction(() => /^里程（[1-9]\d*）$/.test(document.querySelector('#tabs [data-kind="mileage"]').textContent));
  await page.screenshot({ path: path.join(screenshots, "computed-1366x768.png") });
  await page.setViewportSize({ width: 1280, height: 900 });
});

test("a waiting run is cancelled from the queue, and the road import asks first", async () => {
  // A range keeps the service busy while a second run waits behind it.
  const year = day.slice(0, 4);
  // Each click's own answer: the one shown before it is left behind.
  const queued = async (button) => {
    const before = await page.locator("#answer").innerText();
    await button.click();
    await page.waitForFunction((before) => {
      const text = document.querySelector("#answer").textContent;
      return text !== before && /已加入队列（编号 \d+）/.test(text);
    }, before);
    return /编号 (\d+)/.exec(await page.locator("#answer").innerText())[1];
  };
  await page.locator("#from").fill(`${year}0101`);
  await page.locator("#to").fill(`${year}1231`);
  await queued(page.getByRole("button", { name: "计算连续几天" }));
  await page.locator("#day").fill(day);
  const id = await queued(page.getByRole("button", { name: "计算一天", exact: true }));
  const waiting = page.locator(`#queue tr[data-id="${id}"]`);
  await waiting.locator("button.cancel").click();
  await page.waitForFunction((id) => document.querySelector("#answer").textContent.includes(`已取消等待的运行（编号 ${id}）`), id);
  await waiting.waitFor({ state: "detached" });
  await page.locator(`#runs tr[data-id="${id}"] .badge`, { hasText: "已取消" }).waitFor();
  await page.waitForFunction(() => /第 \d+\/\d+ 天/.test(document.querySelector("#progress-text").textContent));
  await shot("queue-cancelled");

  await page.getByRole("button", { name: "添加道路信息" }).click();
  const dialog = page.locator("#import-dialog");
  await dialog.waitFor();
  assert.match(await dialog.innerText(), /roadlightmapinfo/);
  await shot("import-roads-confirm");
  await page.locator("#import-cancel").click();
  await dialog.waitFor({ state: "hidden" });
  assert.match(await page.locator("#answer").innerText(), /已取消等待的运行/, "nothing was queued");
});
