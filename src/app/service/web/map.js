"use strict";
// The map: the geoset's layers as Leaflet vector layers on the web Mercator
// projection, with no tile layer (the page works offline); zoom, scale bar,
// the cursor's position, 全图 and 轨迹.

const map = L.map("map", { zoomControl: false, attributionControl: false, zoomSnap: 0.25, minZoom: 2, maxZoom: 19 });
map.setView([35, 105], 4);
L.control.zoom({ zoomInTitle: "放大", zoomOutTitle: "缩小" }).addTo(map);

// The scale bar in 米 and 公里.
const scaleBar = L.control.scale({ imperial: false, maxWidth: 120 });
scaleBar._updateScale = function (scale, text, ratio) {
  scale.style.width = Math.round(this.options.maxWidth * ratio) + "px";
  scale.textContent = text.replace(/ km$/, " 公里").replace(/ m$/, " 米");
};
scaleBar.addTo(map);

// A control of the page's own: a box of buttons or a line of text.
function mapControl(position, build) {
  const Control = L.Control.extend({
    onAdd() {
      const box = L.DomUtil.create("div", "map-control");
      build(box);
      L.DomEvent.disableClickPropagation(box);
      L.DomEvent.disableScrollPropagation(box);
      return box;
    },
  });
  new Control({ position }).addTo(map);
}

function mapButton(box, id, text, title, onclick) {
  const button = element("button", text);
  button.type = "button";
  button.id = id;
  button.title = title;
  button.onclick = onclick;
  box.append(button);
}

let home = null;
mapControl("topleft", (box) => {
  box.classList.add("leaflet-bar");
  mapButton(box, "zoom-reset", "全图", "看整个地图", () => { if (home) map.fitBounds(home); });
  mapButton(box, "zoom-track", "轨迹", "看所选车辆一天的轨迹", () => fitTrack());
});
mapControl("topright", (box) => { box.id = "cursor-pos"; });
mapControl("bottomright", (box) => { box.id = "map-info"; });

let hovered = "";
map.on("mousemove", (event) => {
  $("cursor-pos").textContent = "经度 " + event.latlng.lng.toFixed(6) + "  纬度 " + event.latlng.lat.toFixed(6) +
    (hovered ? "  " + hovered : "");
});
map.on("mouseout", () => { $("cursor-pos").textContent = ""; });

const layerNames = { HIGHWAY: "高速公路", userspeed: "限速区域" };
function layerStyle(feature) {
  const polygon = /Polygon/.test(feature.geometry.type);
  if (polygon) return { className: "area", color: "#3478c8", weight: 1, fillColor: "#3478c8", fillOpacity: 0.14 };
  if (feature.properties.layer === "HIGHWAY") return { className: "line HIGHWAY", color: "#e39b2d", weight: 3 };
  return { className: "line", color: "#9aa3ad", weight: 1.5 };
}

const mapLayers = L.geoJSON(null, {
  style: layerStyle,
  pointToLayer: (feature, at) => L.circleMarker(at, { radius: 3 }),
  onEachFeature: (feature, layer) => {
    const p = feature.properties;
    const tip = (layerNames[p.layer] || p.layer) + "：" + (p.name || "");
    layer.bindTooltip(tip, { sticky: true });
    layer.on("mouseover", () => { hovered = tip; });
    layer.on("mouseout", () => { hovered = ""; });
  },
}).addTo(map);

async function loadMap() {
  const { status, data } = await api("GET", "/api/layers");
  if (status !== 200 || !data) return;
  mapLayers.clearLayers();
  if (data.features.length === 0) { $("map-info").textContent = "地图没有图元"; return; }
  mapLayers.addData(data);
  home = mapLayers.getBounds();
  if (!track.bounds) map.fitBounds(home);
  $("map-info").textContent = data.features.length + " 个图元";
}
