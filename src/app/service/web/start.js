"use strict";
// The first reads once every script has run, and how often they repeat.

refresh();
loadMap();
loadCalendar();
showDay(yesterdayKey());
setInterval(refresh, 1000);
setInterval(refreshDays, 30000);
setInterval(loadCalendar, 60000);
