#pragma once

// The viewer page of a zoom folder, index.html: Leaflet over the folder's
// tiles, in sites rather than degrees. It reads the pile's description from
// pile.js (a script, not JSON, so that it loads from file:// too), takes
// its view from the address (#x=COLUMN&y=ROW&z=ZOOM, where ZOOM is the
// finest level's number for a site a pixel, and each step up or down
// doubles or halves), and keeps the address in step. When the tiles in
// view have loaded it sets data-drawn on the body; each error or failed
// request counts in data-errors.
namespace ZoomPage {

inline constexpr const char *HTML = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Sandpile</title>
<link rel="stylesheet" href="leaflet/leaflet.css">
<style>
html, body, #map { margin: 0; height: 100%; }
.leaflet-tile-container img { image-rendering: pixelated; }
.panel { font: 13px sans-serif; background: rgba(255, 255, 255, 0.85); padding: 2px 6px; }
.scale-bar { border: 2px solid #000; border-top: none; height: 6px; }
</style>
<script>
"use strict";
document.documentElement.dataset.errors = "0";
function countError() {
  document.documentElement.dataset.errors = String(Number(document.documentElement.dataset.errors) + 1);
}
window.addEventListener("error", countError, true);   // also resources that failed to load
window.addEventListener("unhandledrejection", countError);
</script>
<script src="leaflet/leaflet.js"></script>
<script src="pile.js"></script>
</head>
<body>
<div id="map"></div>
<script>
"use strict";
(function () {
  var finest = pile.levels - 1;
  var deepest = finest + Math.log2(pile.maxPixelsASite);
  // Map units are sites, rows downwards: lat is the row, lng the column.
  var unit = Math.pow(2, -finest);
  var crs = L.extend({}, L.CRS.Simple, {transformation: new L.Transformation(unit, 0, unit, 0)});
  var bounds = L.latLngBounds([0, 0], [pile.height, pile.width]);
  var mapElement = document.getElementById("map");
  mapElement.style.background = pile.backdrop;
  var map = L.map(mapElement, {crs: crs, zoomSnap: 0, zoomDelta: 1, maxZoom: deepest,
                               attributionControl: false, fadeAnimation: false});
  map.setMinZoom(Math.min(map.getBoundsZoom(bounds), 0) - 1);

  var tiles = L.tileLayer("", {tileSize: pile.tile, minZoom: -Infinity, maxZoom: deepest,
                               minNativeZoom: 0, maxNativeZoom: finest, bounds: bounds, noWrap: true});
  tiles.getTileUrl = function (c) {
    var own = "tiles/" + c.z + "/" + c.y + "/" + c.x + ".png";
    return pile.shared[own] || own;
  };
  tiles.on("loading", function () { delete document.body.dataset.drawn; });
  tiles.on("load", function () { document.body.dataset.drawn = "yes"; });
  tiles.on("tileerror", countError);

  // The heights, a tile at a time, for the read-out.
  var heights = {};
  window.zoomHeights = function (base64) {
    var file = document.currentScript.dataset.file;
    var packed = Uint8Array.from(atob(base64), function (ch) { return ch.charCodeAt(0); });
    var stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream("deflate"));
    new Response(stream).arrayBuffer().then(function (buffer) {
      var waiting = heights[file];
      heights[file] = new Uint8Array(buffer);
      waiting.forEach(function (call) { call(heights[file]); });
    });
  };
  function heightAt(row, column, call) {
    var own = "heights/" + Math.floor(row / pile.tile) + "/" + Math.floor(column / pile.tile) + ".js";
    var file = pile.shared[own] || own;
    var width = Math.min(pile.tile, pile.width - Math.floor(column / pile.tile) * pile.tile);
    var read = function (packed) {   // 2 bits a site, the first in the high bits
      var site = (row % pile.tile) * width + column % pile.tile;
      call(packed[site >> 2] >> (6 - 2 * (site & 3)) & 3);
    };
    if (heights[file] instanceof Uint8Array)
      return read(heights[file]);
    if (heights[file])
      return heights[file].push(read);
    heights[file] = [read];
    var script = document.createElement("script");
    script.src = file;
    script.dataset.file = file;
    document.head.appendChild(script);
  }

  function panel(position, make) {
    var control = L.control({position: position});
    control.onAdd = function () { var div = L.DomUtil.create("div", "panel"); make(div); return div; };
    return control.addTo(map);
  }
  panel("bottomleft", function (div) {
    div.id = "readout";
    div.textContent = pile.width + " x " + pile.height + " sites";
    map.on("mousemove", function (event) {
      var row = Math.floor(event.latlng.lat), column = Math.floor(event.latlng.lng);
      if (row < 0 || column < 0 || row >= pile.height || column >= pile.width) {
        div.textContent = pile.width + " x " + pile.height + " sites";
        return;
      }
      var place = "row " + row + ", column " + column;
      div.textContent = place;
      heightAt(row, column, function (z) {
        if (div.textContent.indexOf(place) === 0)
          div.textContent = place + ": height " + z;
      });
    });
  });
  panel("bottomright", function (div) {
    div.id = "scale";
    var bar = L.DomUtil.create("div", "scale-bar", div);
    var label = L.DomUtil.create("span", "", div);
    function update() {
      var pixelsASite = Math.pow(2, map.getZoom() - finest);
      var sites = Math.pow(10, Math.floor(Math.log10(120 / pixelsASite)));
      sites *= 120 / pixelsASite >= 5 * sites ? 5 : 120 / pixelsASite >= 2 * sites ? 2 : 1;
      sites = Math.max(sites, 1);
      bar.style.width = Math.round(sites * pixelsASite) + "px";
      label.textContent = sites + (sites === 1 ? " site" : " sites");
    }
    map.on("zoomend resize", update);
    map.whenReady(update);
  });

  function viewFromAddress() {
    var view = {};
    location.hash.slice(1).split("&").forEach(function (part) {
      var pair = part.split("=");
      view[pair[0]] = Number(pair[1]);
    });
    if (isFinite(view.x) && isFinite(view.y) && isFinite(view.z))
      map.setView([view.y, view.x], view.z, {animate: false});
    else
      map.fitBounds(bounds, {animate: false, padding: [20, 20]});
  }
  viewFromAddress();
  tiles.addTo(map);
  map.on("moveend", function () {
    var centre = map.getCenter();
    history.replaceState(null, "", "#x=" + centre.lng.toFixed(2) + "&y=" + centre.lat.toFixed(2)
                         + "&z=" + map.getZoom().toFixed(2));
  });
})();
</script>
</body>
</html>
)html";

} // namespace ZoomPage
