// The card's backdrop: window.tazuBackdrop.show(card, theme, width, height, density, served)
// puts the theme's backdrop for that size behind the card's content, drawn with `density`
// pixels for each CSS pixel (a zoomed view shows it sharp). The app paints the same pixels on
// a thread of its own and serves them (`served`); the page paints them only when it has none.
(function () {
  'use strict';

  // Each theme's backdrop: a base gradient under soft elliptical glows, as CSS would draw
  // them, computed in full precision and ordered-dithered to 8 bits so that the gentle
  // gradients never band. Drawn once per theme and size, then reused.
  function hex(c) { return [parseInt(c.slice(1, 3), 16), parseInt(c.slice(3, 5), 16), parseInt(c.slice(5, 7), 16)]; }
  // From the theme table (themes.js), with its colours as numbers.
  const BACKDROPS = {};
  for (const theme of window.CarderThemes) {
    const b = theme.backdrop;
    BACKDROPS[theme.id] = { base: { angle: b.angle, stops: b.stops.map(function (s) { return [s[0], hex(s[1])]; }) },
                            glows: b.glows };
  }
  const BAYER = [0, 32, 8, 40, 2, 34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26, 12, 44, 4, 36, 14, 46, 6, 38,
                 60, 28, 52, 20, 62, 30, 54, 22, 3, 35, 11, 43, 1, 33, 9, 41, 51, 19, 59, 27, 49, 17, 57, 25,
                 15, 47, 7, 39, 13, 45, 5, 37, 63, 31, 55, 23, 61, 29, 53, 21].map(function (v) { return (v + 0.5) / 64 - 0.5; });
  const backdrops = new Map();

  // The backdrop's exact colour at (x, y), into out[o..o+2].
  function backdropColor(spec, glows, width, height, x, y, out, o) {
    const a = spec.base.angle * Math.PI / 180, dx = Math.sin(a), dy = -Math.cos(a);
    const length = Math.abs(width * dx) + Math.abs(height * dy);
    const stops = spec.base.stops;
    let t = ((x - width / 2) * dx + (y - height / 2) * dy) / length + 0.5;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    let i = 1;
    while (i < stops.length - 1 && t > stops[i][0]) i++;
    const from = stops[i - 1], to = stops[i];
    const f = (t - from[0]) / ((to[0] - from[0]) || 1);
    let r = from[1][0] + (to[1][0] - from[1][0]) * f;
    let g = from[1][1] + (to[1][1] - from[1][1]) * f;
    let b = from[1][2] + (to[1][2] - from[1][2]) * f;
    for (const glow of glows) {
      const ex = (x - glow.x) / glow.rx, ey = (y - glow.y) / glow.ry;
      const d = Math.sqrt(ex * ex + ey * ey);
      if (d >= 1) continue;
      const k = glow.alpha * (1 - d);
      r += (glow.r - r) * k;
      g += (glow.g - g) * k;
      b += (glow.b - b) * k;
    }
    out[o] = r;
    out[o + 1] = g;
    out[o + 2] = b;
  }

  // The gradients change slowly: exact colours on a grid every few pixels, interpolated in
  // between at full precision, then dithered once per pixel.
  function drawBackdrop(theme, width, height) {
    const spec = BACKDROPS[theme];
    const canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    canvas.className = 'card-backdrop';
    const ctx = canvas.getContext('2d');
    const img = ctx.createImageData(width, height);
    const px = img.data;
    const glows = spec.glows.map(function (g) {
      return { x: g.cx * width, y: g.cy * height, rx: g.rx * width * g.end, ry: g.ry * height * g.end,
               r: g.color[0], g: g.color[1], b: g.color[2], alpha: g.alpha };
    });
    const step = 6, cols = Math.ceil(width / step) + 1, rows = Math.ceil(height / step) + 1;
    const grid = new Float32Array(cols * rows * 3);
    for (let j = 0; j < rows; j++)
      for (let i = 0; i < cols; i++) backdropColor(spec, glows, width, height, i * step, j * step, grid, (j * cols + i) * 3);
    // What depends on the column alone is worked out once: the first card of a run is drawn
    // before the script engine has warmed up, when every operation in this loop counts.
    const columnAt = new Int32Array(width), fractionAt = new Float64Array(width);
    for (let x = 0; x < width; x++) {
      const i = Math.floor((x + 0.5) / step);
      columnAt[x] = i * 3;
      fractionAt[x] = (x + 0.5) / step - i;
    }
    new Uint32Array(px.buffer).fill(0xff000000);  // opaque (little-endian RGBA)
    const line = new Float32Array(cols * 3), dithers = new Float64Array(8);
    for (let y = 0; y < height; y++) {
      const j = Math.floor((y + 0.5) / step), fy = (y + 0.5) / step - j;
      const up = j * cols * 3, down = Math.min(j + 1, rows - 1) * cols * 3;
      for (let k = 0; k < cols * 3; k++) line[k] = grid[up + k] + (grid[down + k] - grid[up + k]) * fy;
      const bayerRow = (y & 7) << 3;
      for (let k = 0; k < 8; k++) dithers[k] = BAYER[bayerRow | k] + 0.5;
      for (let x = 0, o = y * width * 4; x < width; x++, o += 4) {
        const l = columnAt[x], fx = fractionAt[x], dither = dithers[x & 7];
        px[o] = line[l] + (line[l + 3] - line[l]) * fx + dither;
        px[o + 1] = line[l + 1] + (line[l + 4] - line[l + 1]) * fx + dither;
        px[o + 2] = line[l + 2] + (line[l + 5] - line[l + 2]) * fx + dither;
      }
    }
    ctx.putImageData(img, 0, 0);
    return canvas;
  }

  // A backdrop the app painted (the same pixels), as a picture it serves.
  function servedBackdrop(uri, width, height) {
    const img = new Image();
    img.className = 'card-backdrop';
    img.alt = '';
    img.decoding = 'sync';
    img.style.width = width + 'px';
    img.style.height = height + 'px';
    img.src = uri;
    return img;
  }

  function keyOf(theme, width, height, density) {
    return theme + ' ' + width + 'x' + height + (density === 1 ? '' : '@' + density);
  }

  function painted(theme, width, height, density) {
    const canvas = drawBackdrop(theme, width * density, height * density);
    if (density !== 1) {
      canvas.style.width = width + 'px';
      canvas.style.height = height + 'px';
    }
    return canvas;
  }

  // Shows the backdrop: one drawn before, the one the app served (`served`, an address), or
  // one painted here.
  function showBackdrop(card, theme, width, height, density, served) {
    density = density || 1;
    const key = keyOf(theme, width, height, density);
    let backdrop = backdrops.get(key);
    if (!backdrop) {
      backdrop = served ? servedBackdrop(served, width, height) : painted(theme, width, height, density);
      backdrop.dataset.key = key;
      backdrop.dataset.theme = theme;
      // A few backdrops stay ready (every size of one theme); older ones are drawn again.
      if (backdrops.size >= 4) backdrops.delete(backdrops.keys().next().value);
      backdrops.set(key, backdrop);
    }
    const shown = card.querySelector('.card-backdrop');
    if (shown !== backdrop) card.replaceChild(backdrop, shown);
  }

  // A served backdrop that cannot be shown is painted here in its place.
  function paintInstead(card, img) {
    const width = parseFloat(img.style.width), height = parseFloat(img.style.height);
    const canvas = painted(img.dataset.theme, width, height, densityOf(img));
    canvas.dataset.key = img.dataset.key;
    canvas.dataset.theme = img.dataset.theme;
    backdrops.set(img.dataset.key, canvas);
    if (img.parentNode === card) card.replaceChild(canvas, img);
    return canvas;
  }

  function densityOf(el) {
    const at = el.dataset.key.indexOf('@');
    return at < 0 ? 1 : parseInt(el.dataset.key.slice(at + 1), 10);
  }

  function isServedAndWaiting(el) { return el.tagName === 'IMG' && !(el.complete && el.naturalWidth > 0); }

  // Whether the backdrop shown is still on its way from the app.
  function pending(card) { return isServedAndWaiting(card.querySelector('.card-backdrop')); }

  // Resolves once the backdrop shown can be drawn.
  async function ready(card) {
    const shown = card.querySelector('.card-backdrop');
    if (shown.tagName !== 'IMG') return;
    await shown.decode().catch(function () { return null; });
    if (!(shown.naturalWidth > 0)) paintInstead(card, shown);
  }

  // The backdrop's pixels now, to measure what lies behind the text: {width, height, data}.
  // A served backdrop comes from another origin and cannot be read back: the same pixels
  // are painted here for measuring (once per backdrop).
  let read = { element: null, pixels: null };
  function pixels(card) {
    const shown = card.querySelector('.card-backdrop');
    if (shown.tagName !== 'IMG' && shown.tagName !== 'CANVAS') return null;
    if (read.element !== shown) {
      let canvas = shown;
      if (shown.tagName === 'IMG') {
        const width = parseFloat(shown.style.width), height = parseFloat(shown.style.height);
        canvas = painted(shown.dataset.theme, width, height, densityOf(shown));
      }
      const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      read = { element: shown, pixels: { width: canvas.width, height: canvas.height, data: data } };
    }
    return read.pixels;
  }

  window.tazuBackdrop = { show: showBackdrop, pending: pending, ready: ready, pixels: pixels, paint: painted };
})();
