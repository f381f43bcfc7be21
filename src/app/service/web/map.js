"use strict";
// The map: the geoset's layers drawn as SVG, projected plate carrée
// with the longitude shrunk by the cosine of the middle latitude;
// panning, zooming and the scale bar.

const svgNs = "http://www.w3.org/2000/svg";
const svg = $("map");
let view = null, home = null, kx = null;

function setView(v) {
  view = v;
  svg.setAttribute("viewBox", [v.x, v.y, v.w, v.h].join(" "));
  drawScale();
}

const project = (c) => [c[0] * kx, -c[1]];
const pathOf = (coords) => coords.map((c, i) => { const [x, y] = project(c); return (i ? "L" : "M") + x.toFixed(6) + " " + y.toFixed(6); }).join("");

function draw(geometry, out) {
  if (!geometry) return;
  switch (geometry.type) {
    case "LineString": out.push(["line", pathOf(geometry.coordinates)]); break;
    case "MultiLineString": out.push(["line", geometry.coordinates.map(pathOf).join("")]); break;
    case "Polygon": out.push(["area", geometry.coordinates.map((r) => pathOf(r) + "Z").join("")]); break;
    case "MultiPolygon": out.push(["area", geometry.coordinates.map((p) => p.map((r) => pathOf(r) + "Z").join("")).join("")]); break;
    case "Point": case "MultiPoint": {
      const pts = geometry.type === "Point" ? [geometry.coordinates] : geometry.coordinates;
      out.push(["line", pts.map((c) => pathOf([c]) + "l0 0").join("")]);
      break;
    }
    case "GeometryCollection": for (const g of geometry.geometries) draw(g, out); break;
  }
}

function bounds(geometries) {
  let minX = Infinity, minY = Infinity, maxX = -Infinity, maxY = -Infinity;
  const visit = (c) => {
    if (typeof c[0] === "number") {
      minX = Math.min(minX, c[0]); maxX = Math.max(maxX, c[0]);
      minY = Math.min(minY, c[1]); maxY = Math.max(maxY, c[1]);
    } else c.forEach(visit);
  };
  const geometryVisit = (g) => {
    if (!g) return;
    if (g.type === "GeometryCollection") g.geometries.forEach(geometryVisit); else visit(g.coordinates);
  };
  geometries.forEach(geometryVisit);
  return { minX, minY, maxX, maxY };
}

function viewAround(b) {
  const w = Math.max((b.maxX - b.minX) * kx, 2e-3), h = Math.max(b.maxY - b.minY, 2e-3);
  const cx = (b.minX + b.maxX) / 2 * kx, cy = -(b.minY + b.maxY) / 2;
  return { x: cx - w * 0.55, y: cy - h * 0.55, w: w * 1.1, h: h * 1.1 };
}

function svgPath(d, cls, tip) {
  const path = document.createElementNS(svgNs, "path");
  path.setAttribute("d", d);
  path.setAttribute("class", cls);
  if (tip) {
    const title = document.createElementNS(svgNs, "title");
    title.textContent = tip;
    path.appendChild(title);
  }
  return path;
}

const layerNames = { HIGHWAY: "高速公路", userspeed: "限速区域" };
async function loadMap() {
  const { status, data } = await api("GET", "/api/layers");
  if (status !== 200 || !data) return;
  const group = $("layers");
  group.replaceChildren();
  if (data.features.length === 0) { $("map-info").textContent = "地图没有图元"; return; }
  const b = bounds(data.features.map((f) => f.geometry));
  if (kx === null) kx = Math.cos(((b.minY + b.maxY) / 2) * Math.PI / 180);
  for (const feature of data.features) {
    const parts = [];
    draw(feature.geometry, parts);
    const layer = feature.properties.layer;
    for (const [kind, d] of parts) {
      group.appendChild(svgPath(d, kind + " " + layer, (layerNames[layer] || layer) + "：" + feature.properties.name));
    }
  }
  home = viewAround(b);
  if (!track.bounds) setView(home);
  $("map-info").textContent = data.features.length + " 个图元";
}

function zoom(factor, cx, cy) {
  if (!view) return;
  const x = cx === undefined ? view.x + view.w / 2 : cx, y = cy === undefined ? view.y + view.h / 2 : cy;
  setView({ x: x - (x - view.x) * factor, y: y - (y - view.y) * factor, w: view.w * factor, h: view.h * factor });
}

// Screen pixels to view units; the view box is fitted into the element (xMidYMid meet).
function screenScale() {
  const r = svg.getBoundingClientRect();
  return { r, scale: Math.max(view.w / r.width, view.h / r.height) };
}

function toView(event) {
  const { r, scale } = screenScale();
  const ox = view.x + view.w / 2 - (r.width * scale) / 2, oy = view.y + view.h / 2 - (r.height * scale) / 2;
  return { x: ox + (event.clientX - r.left) * scale, y: oy + (event.clientY - r.top) * scale, scale };
}

// A bar of a round length near 100 pixels; a view unit is a degree of latitude.
function drawScale() {
  const box = $("scale");
  if (!view || kx === null) { box.replaceChildren(); return; }
  const { scale } = screenScale();
  if (!isFinite(scale) || scale <= 0) return;
  const metresPerPixel = scale * 111320;
  const wanted = metresPerPixel * 100;
  const power = Math.pow(10, Math.floor(Math.log10(wanted)));
  const metres = [5, 2, 1].map((f) => f * power).find((m) => m <= wanted) || power;
  const bar = element("div");
  bar.style.width = (metres / metresPerPixel).toFixed(0) + "px";
  box.replaceChildren(metres >= 1000 ? metres / 1000 + " 公里" : metres + " 米", bar);
}
new ResizeObserver(drawScale).observe(svg);

svg.addEventListener("wheel", (event) => {
  event.preventDefault();
  if (!view) return;
  const p = toView(event);
  zoom(event.deltaY < 0 ? 0.8 : 1.25, p.x, p.y);
}, { passive: false });

let drag = null;
svg.addEventListener("pointerdown", (event) => {
  if (!view) return;
  drag = { x: event.clientX, y: event.clientY, view: Object.assign({}, view), scale: toView(event).scale };
  svg.setPointerCapture(event.pointerId);
  svg.classList.add("dragging");
});
let hovered = "";
svg.addEventListener("pointermove", (event) => {
  if (view && kx !== null) {
    const p = toView(event);
    $("cursor-pos").textContent = "经度 " + (p.x / kx).toFixed(5) + "  纬度 " + (-p.y).toFixed(5) + (hovered ? "  " + hovered : "");
  }
  if (!drag) return;
  const dx = (event.clientX - drag.x) * drag.scale, dy = (event.clientY - drag.y) * drag.scale;
  setView({ x: drag.view.x - dx, y: drag.view.y - dy, w: drag.view.w, h: drag.view.h });
});
svg.addEventListener("pointerover", (event) => {
  const title = event.target.querySelector && event.target.querySelector("title");
  hovered = title ? title.textContent : "";
});
svg.addEventListener("pointerleave", () => { hovered = ""; $("cursor-pos").textContent = ""; });
const endDrag = () => { drag = null; svg.classList.remove("dragging"); };
svg.addEventListener("pointerup", endDrag);
svg.addEventListener("pointercancel", endDrag);
$("zoom-in").onclick = () => zoom(0.5);
$("zoom-out").onclick = () => zoom(2);
$("zoom-reset").onclick = () => { if (home) setView(home); };
$("zoom-track").onclick = () => { if (track.bounds) setView(viewAround(track.bounds)); };
