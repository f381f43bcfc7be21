"use strict";
// A vehicle's day on the map: its track, speeding stretches, stops and
// losses of contact, shown when a report row is chosen.

const track = { simId: null, day: null, bounds: null, coords: [], times: null, events: [] };

function clearTrack() {
  Object.assign(track, { simId: null, day: null, bounds: null, coords: [], times: null, events: [] });
  $("track").replaceChildren();
  $("track-info").textContent = "";
  $("zoom-track").disabled = true;
}

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

function metresBetween(a, b) {
  const r = Math.PI / 180, dy = (b[1] - a[1]) * r, dx = (b[0] - a[0]) * r * Math.cos((a[1] + b[1]) / 2 * r);
  return 6371000 * Math.sqrt(dx * dx + dy * dy);
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
    for (to = from; to + 1 < track.coords.length && metres < wanted; ++to) metres += metresBetween(track.coords[to], track.coords[to + 1]);
  }
  if (from < 0) return [];
  return track.coords.slice(from, Math.max(to, from + 1) + 1);
}

function markAt(c, cls, tip) {
  const [x, y] = project(c);
  return svgPath("M" + x.toFixed(6) + " " + y.toFixed(6) + "l0 0", "mark " + cls, tip);
}

async function showTrack(day, simId) {
  if (track.day === day && track.simId === simId) return true;
  clearTrack();
  track.day = day;
  track.simId = simId;
  $("track-info").textContent = "正在读取 " + simId + " 的轨迹…";
  const query = "day=" + day + "&vehicle=" + encodeURIComponent(simId);
  const t = await api("GET", "/api/track?" + query);
  if (track.day !== day || track.simId !== simId) return false;
  if (t.status !== 200 || !t.data) {
    $("track-info").textContent = simId + "：" + ((t.data && t.data.error) || "读不到轨迹（" + t.status + "）");
    return false;
  }
  const features = t.data.features;
  const line = features.find((f) => f.properties.event === "track");
  const geometry = line && line.geometry;
  track.coords = !geometry ? [] : geometry.type === "LineString" ? geometry.coordinates : [geometry.coordinates];
  track.times = line && Array.isArray(line.properties.times) ? line.properties.times : null;
  track.events = features.filter((f) => f.properties.event !== "track");
  if (kx === null && track.coords.length) kx = Math.cos(track.coords[0][1] * Math.PI / 180);

  const group = $("track");
  const props = line ? line.properties : {};
  if (track.coords.length > 1) group.appendChild(svgPath(pathOf(track.coords), "track", simId + " 的轨迹 " + (props.first || "") + " 到 " + (props.last || "")));
  const counts = { speeding: 0, stop: 0, lost: 0, unplaced: 0 };
  for (const event of track.events) {
    const p = event.properties;
    if (p.event === "speeding") {
      const stretch = speedingStretch(event);
      const tip = "超速 " + p.begin + " 到 " + p.end + "，" + (p.seconds ?? "") + " 秒，最高 " + (p.speed ?? "") + " 公里/时，" + (p.remark || "");
      if (stretch.length > 1) group.appendChild(svgPath(pathOf(stretch), "speeding-line", tip));
      if (event.geometry) { group.appendChild(markAt(event.geometry.coordinates, "speeding", tip)); ++counts.speeding; } else ++counts.unplaced;
    } else if (p.event === "stop") {
      const tip = "停车 " + p.begin + " 到 " + p.end + (p.duration ? "，" + p.duration : "");
      if (event.geometry) { group.appendChild(markAt(event.geometry.coordinates, "stop", tip)); ++counts.stop; } else ++counts.unplaced;
    } else if (p.event === "lost") {
      // A loss of contact runs from the fix before the silence to the one after it.
      const tip = "失去联系 " + p.begin + " 到 " + p.end;
      const at = fixAt(p.begin);
      if (at >= 0 && at + 1 < track.coords.length) group.appendChild(svgPath(pathOf([track.coords[at], track.coords[at + 1]]), "lost-line", tip));
      if (event.geometry) { group.appendChild(markAt(event.geometry.coordinates, "lost", tip)); ++counts.lost; } else ++counts.unplaced;
    }
  }
  if (track.coords.length) {
    group.appendChild(markAt(track.coords[0], "start", "起点 " + (props.first || "")));
    group.appendChild(markAt(track.coords[track.coords.length - 1], "end", "终点 " + (props.last || "")));
    track.bounds = bounds([geometry]);
    $("zoom-track").disabled = false;
  }
  $("track-info").textContent = simId + "（" + shownDay(day) + "）：" + (props.fixes || 0) + " 个定位点，" +
    (props.positioned || 0) + " 个有位置；超速 " + counts.speeding + " 次，停车 " + counts.stop + " 次，失去联系 " +
    counts.lost + " 次" + (counts.unplaced ? "；" + counts.unplaced + " 个事件在图上没有位置" : "");
  for (const row of $("report").tBodies[0].rows) row.classList.toggle("vehicle", row.cells[0].textContent === simId);
  return true;
}

// A row's place: its own position, else the fix at its begin time, else the whole track.
function placeOfRow(values) {
  const col = (name) => report.columns.indexOf(name);
  const lon = Number(values[col("LONGITUDE")]), lat = Number(values[col("LATITUDE")]);
  if (col("LONGITUDE") >= 0 && lon && lat) return [lon, lat];
  const time = values[col("TIMELOG") >= 0 ? col("TIMELOG") : col("BEGINTIME")];
  const event = track.events.find((e) => e.properties.begin === time && e.geometry);
  if (event) return event.geometry.coordinates;
  const at = time ? fixAt(time) : -1;
  return at >= 0 ? track.coords[at] : null;
}

async function chooseRow(row, values) {
  for (const r of $("report").tBodies[0].querySelectorAll("tr.selected")) r.classList.remove("selected");
  row.classList.add("selected");
  if (!(await showTrack(selectedDay, values[0]))) return;
  for (const old of $("track").querySelectorAll(".focus")) old.remove();
  const place = placeOfRow(values);
  if (place && kx !== null) {
    const [x, y] = project(place);
    const focus = svgPath("M" + x + " " + y + "l0 0", "focus", "所选的行");
    $("track").insertBefore(focus, $("track").firstChild);
    const w = view ? Math.min(view.w, 0.02) : 0.02;
    setView({ x: x - w / 2, y: y - w * 0.4, w, h: w * 0.8 });
  } else if (track.bounds) {
    setView(viewAround(track.bounds));
  }
}
