// Drives the control page of a running service in headless Chromium, as an
// operator would: open the page, type a day, click 计算一天 and wait for the
// end caption. CUSERVER_URL names the page, CUSERVER_DAY the day to run.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { mkdtempSync, mkdirSync, rmSync } from "node:fs";
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
  await page.locator("#layers path").first().waitFor({ state: "attached", timeout: 30000 });
  const mapMs = Date.now() - started;
  console.log(JSON.stringify({ measure: "page load", loadMs: loadedMs, withMapMs: mapMs }));

  await assert.doesNotReject(page.locator("#day").waitFor());
  assert.equal(await page.locator("#day").getAttribute("type"), "text");
  assert.match(await page.locator("body").innerText(), /格式是：20071122/);
  assert.ok(await page.getByRole("button", { name: "计算连续几天" }).isVisible());
  assert.ok(await page.getByRole("button", { name: "添加道路信息" }).isVisible());
  await page.waitForFunction(() => document.querySelector("#about").textContent.includes("3.0"));
  assert.equal(await page.title(), await page.locator("#caption").innerText());

  const before = await page.locator("#map").getAttribute("viewBox");
  await page.getByRole("button", { name: "+" }).click();
  assert.notEqual(await page.locator("#map").getAttribute("viewBox"), before, "zooming changes the view");
  await page.getByRole("button", { name: "全图" }).click();
  assert.equal(await page.locator("#map").getAttribute("viewBox"), before);
});

test("a refused day shows the operator's message", async () => {
  await page.locator("#day").fill("20200230");
  await page.getByRole("button", { name: "计算一天", exact: true }).click();
  await page.waitForFunction(() => document.querySelector("#answer").textContent.includes("日期超出指定范围！"));
});

test("a day typed and run through the page ends with the end caption", async () => {
  const endCaption = `${day}数据分析完毕，请查验！`;
  await page.locator("#day").fill(day);
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
  assert.match(await lastRun.innerText(), /succeeded/);
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
