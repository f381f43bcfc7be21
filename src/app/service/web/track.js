"use strict";
// A vehicle's day on the map: its track, speeding stretches, stops and
// losses of contact, and the vehicle under its plate; a chosen report row
// opens the whole day with the row's place marked.

const track = { simId: null, day: null, bounds: null, coords: [], times: null, events: [] };
const trackLayer = L.featureGroup().addTo(map);

function clearTrack() {
  Object.assign(track, { simId: null, day: null, bounds: null, coords: [], times: null, events: [] });
  trackLayer.clearLayers();
  $("track-info").textContent = "";
  $("zoom-track").disabled = true;
}

function fitTrack() {
  if (track.bounds) map.fitBounds(track.bounds, { padding: [24, 24], maxZoom: 16 });
}

// GeoJSON's [longitude, latitude] as Leaflet's [latitude, longitude].
const latLng = (c) => [c[1], c[0]];

// The index of the fix at a time ("yyyy-mm-dd hh:mm:ss"), the last one before it when none is at it.
function fixAt(time) {
  if (!track.times) return -1;
  let found = -1;
  for (let i = 0; i < track.times.length && track.times[i] <= time; ++i) found = i;
  return found;
}

function nearestVertex(c) {
  let best = -1, bestD = Infinity;
  track.coords.forEach((v, i) => {
    const d = (v[0] - c[0]) * (v[0] - c[0]) + (v[1] - c[1]) * (v[1] - c[1]);
    if (d < bestD) { bestD = d; best = i; }
  });
  return best;
}

// The fixes of a speeding episode: from its begin to its end time, or, when
// the track carries no times, from its begin for the distance it covered.
function speedingStretch(event) {
  const p = event.properties;
  let from = fixAt(p.begin), to = fixAt(p.end);
  if (from < 0 && event.geometry) {
    from = nearestVertex(event.geometry.coordinates);
    let metres = 0;
    const wanted = (Number(p.distance) || 0) * 1000;
    for (to = from; to + 1 < track.coords.length && metres < wanted; ++to) {
      metres += map.distance(latLng(track.coords[to]), latLng(track.coords[to + 1]));
    }
  }
  if (from < 0) return [];
  return track.coords.slice(from, Math.max(to, from + 1) + 1);
}

const line = (coords, className, color, tip, more) =>
  L.polyline(coords.map(latLng), { className, color, ...more }).bindTooltip(tip, { sticky: true }).addTo(trackLayer);
const mark = (c, className, color, tip, radius) =>
  L.circleMarker(latLng(c), { className: "mark " + className, color, fillColor: color, fillOpacity: 0.9, weight: 1,
    radius: radius || 6 }).bindTooltip(tip).addTo(trackLayer);

async function showTrack(day, simId, plate) {
  if (track.day === day && track.simId === simId) return true;
  clearTrack();
  track.day = day;
  track.simId = simId;
  const name = plate || simId;
  $("track-info").textContent = "正在读取 " + name + " 的轨迹…";
  const t = await api("GET", "/api/track?day=" + day + "&vehicle=" + encodeURIComponent(simId));
  if (track.day !== day || track.simId !== simId) return false;
  if (t.status !== 200 || !t.data) {
    $("track-info").textContent = name + "：" + ((t.data && t.data.error) || "读不到轨迹（" + t.status + "）");
    return false;
  }
  const features = t.data.features;
  const path = features.find((f) => f.properties.event === "track");
  const geometry = path && path.geometry;
  track.coords = !geometry ? [] : geometry.type === "LineString" ? geometry.coordinates : [geometry.coordinates];
  track.times = path && Array.isArray(path.properties.times) ? path.properties.times : null;
  track.events = features.filter((f) => f.properties.event !== "track");

  const props = path ? path.properties : {};
  if (track.coords.length > 1) line(track.coords, "track", "#1a56db", name + " 的轨迹 " + (props.first || "") + " 到 " + (props.last || ""), { weight: 2.5 });
  const counts = { speeding: 0, stop: 0, lost: 0, unplaced: 0 };
  for (const event of track.events) {
    const p = event.properties;
    let tip = "", cls = "", colour = "";
    if (p.event === "speeding") {
      tip = "超速 " + p.begin + " 到 " + p.end + "，" + hoursMinutes(p.seconds || 0) + "，最高 " + (p.speed ?? "") + " 公里/时，" + (p.remark || "");
      [cls, colour] = ["speeding", "#e0261b"];
      const stretch = speedingStretch(event);
      if (stretch.length > 1) line(stretch, "speeding-line", colour, tip, { weight: 5 });
    } else if (p.event === "stop") {
      tip = "停车 " + p.begin + " 到 " + p.end + (p.duration ? "，" + p.duration : "");
      [cls, colour] = ["stop", "#7b3fb8"];
    } else if (p.event === "lost") {
      // A loss of contact runs from the fix before the silence to the one after it.
      tip = "失去联系 " + p.begin + " 到 " + p.end;
      [cls, colour] = ["lost", "#222"];
      const at = fixAt(p.begin);
      if (at >= 0 && at + 1 < track.coords.length) line(track.coords.slice(at, at + 2), "lost-line", colour, tip, { weight: 2, dashArray: "5 4" });
    } else continue;
    if (event.geometry) { mark(event.geometry.coordinates, cls, colour, tip); ++counts[cls]; } else ++counts.unplaced;
  }
  if (track.coords.length) {
    mark(track.coords[0], "start", "#17702a", "起点 " + (props.first || ""), 5);
    // The vehicle at its last fix, under its plate.
    mark(track.coords[track.coords.length - 1], "end vehicle", "#444", "", 7)
      .bindTooltip(name, { permanent: true, direction: "top", className: "plate", offset: [0, -6] });
    track.bounds = L.latLngBounds(track.coords.map(latLng));
    $("zoom-track").disabled = false;
  }
  $("track-info").textContent = name + (plate ? "（" + simId + "）" : "") + "，" + shownDay(day) + "：" +
    (props.fixes || 0) + " 个定位点，" + (props.positioned || 0) + " 个有位置；超速 " + counts.speeding + " 次，停车 " +
    counts.stop + " 次，失去联系 " + counts.lost + " 次" + (counts.unplaced ? "；" + counts.unplaced + " 个事件在图上没有位置" : "");
  for (const row of $("report").tBodies[0].rows) row.classList.toggle("vehicle", row.cells[0].textContent === simId);
  return true;
}

// A row's place: its own position, else the fix at its begin time.
function placeOfRow(values) {
  const col = (name) => report.columns.indexOf(name);
  const lon = Number(values[col("LONGITUDE")]), lat = Number(values[col("LATITUDE")]);
  if (col("LONGITUDE") >= 0 && lon && lat) return [lon, lat];
  const time = rowTime(values);
  const event = track.events.find((e) => e.properties.begin === time && e.geometry);
  if (event) return event.geometry.coordinates;
  const at = time ? fixAt(time) : -1;
  return at >= 0 ? track.coords[at] : null;
}

function rowTime(values) {
  const col = report.columns.indexOf("TIMELOG") >= 0 ? report.columns.indexOf("TIMELOG") : report.columns.indexOf("BEGINTIME");
  return col >= 0 ? values[col] : null;
}

let focusMark = null;
async function chooseRow(row, values) {
  for (const r of $("report").tBodies[0].querySelectorAll("tr.selected")) r.classList.remove("selected");
  row.classList.add("selected");
  // Over a period a row's day is the day of its time.
  const day = oneDay() ? when.from : parseDay(String(rowTime(values) || "").slice(0, 10));
  if (!day) return;
  const plateColumn = report.columns.indexOf("LICENSEPLATE");
  if (!(await showTrack(day, values[0], plateColumn >= 0 ? values[plateColumn] : null))) return;
  if (focusMark) focusMark.remove();
  fitTrack();
  const place = placeOfRow(values);
  if (!place) return;
  focusMark = L.circleMarker(latLng(place), { className: "focus", radius: 14, color: "#ffcc00", weight: 4, fillOpacity: 0.25 })
    .bindTooltip("所选的行" + (rowTime(values) ? " " + rowTime(values) : ""), { direction: "bottom" })
    .addTo(trackLayer);
  focusMark.bringToBack();
  if (!map.getBounds().contains(focusMark.getLatLng())) map.panTo(focusMark.getLatLng());
}
