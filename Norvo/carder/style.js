// The user's style on a card: an accent colour, a background (a colour, a gradient or a
// photo), fonts and a signature, over the chosen theme. Whatever the user picks, text stays
// readable: the text colours follow the background, the accent is made lighter or darker
// (its hue kept) until it reads, and on a busy background a scrim of the backdrop's colour,
// as faint as will do, goes behind the text. `minContrast` measures the finished card: the
// lowest contrast of any text against what lies behind it.
(function (root) {
  'use strict';

  // --- Colours -------------------------------------------------------------------------------
  function hexRgb(h) { return [parseInt(h.slice(1, 3), 16), parseInt(h.slice(3, 5), 16), parseInt(h.slice(5, 7), 16)]; }
  function rgbHex(c) {
    return '#' + c.map(function (v) { return Math.max(0, Math.min(255, Math.round(v))).toString(16).padStart(2, '0'); }).join('');
  }
  function linear(v) { v /= 255; return v <= 0.04045 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); }
  function luminance(c) { return 0.2126 * linear(c[0]) + 0.7152 * linear(c[1]) + 0.0722 * linear(c[2]); }
  function contrast(a, b) {
    const x = luminance(a), y = luminance(b);
    return (Math.max(x, y) + 0.05) / (Math.min(x, y) + 0.05);
  }
  // A CSS colour as [r, g, b, alpha]; transparent for what is not one.
  function cssRgba(text) {
    const m = /rgba?\(([^)]+)\)/.exec(text || '');
    if (!m) return [0, 0, 0, 0];
    const p = m[1].split(/[\s,/]+/).filter(Boolean).map(parseFloat);
    return [p[0], p[1], p[2], p.length > 3 ? p[3] : 1];
  }
  function over(top, alpha, bottom) {
    return [top[0] * alpha + bottom[0] * (1 - alpha), top[1] * alpha + bottom[1] * (1 - alpha),
            top[2] * alpha + bottom[2] * (1 - alpha)];
  }
  function hsl(c) {
    const r = c[0] / 255, g = c[1] / 255, b = c[2] / 255;
    const max = Math.max(r, g, b), min = Math.min(r, g, b), l = (max + min) / 2;
    if (max === min) return [0, 0, l];
    const d = max - min, s = l > 0.5 ? d / (2 - max - min) : d / (max + min);
    let h = max === r ? (g - b) / d + (g < b ? 6 : 0) : max === g ? (b - r) / d + 2 : (r - g) / d + 4;
    return [h / 6, s, l];
  }
  function fromHsl(h, s, l) {
    if (!s) return [l * 255, l * 255, l * 255];
    const q = l < 0.5 ? l * (1 + s) : l + s - l * s, p = 2 * l - q;
    const f = function (t) {
      t = (t + 1) % 1;
      return 255 * (t < 1 / 6 ? p + (q - p) * 6 * t : t < 1 / 2 ? q : t < 2 / 3 ? p + (q - p) * (2 / 3 - t) * 6 : p);
    };
    return [f(h + 1 / 3), f(h), f(h - 1 / 3)];
  }
  // The colour nearest `c` in lightness (hue and saturation kept) with at least `need`
  // contrast against every colour of `behind`: darker on light backgrounds, lighter on dark.
  function readable(c, behind, need, darker) {
    const worst = function (x) { return Math.min.apply(null, behind.map(function (b) { return contrast(x, b); })); };
    if (worst(c) >= need) return c;
    const [h, s, l] = hsl(c);
    for (let step = 1; step <= 100; step++) {
      const tryL = darker ? l - (l * step) / 100 : l + ((1 - l) * step) / 100;
      const x = fromHsl(h, s, tryL);
      if (worst(x) >= need) return x;
    }
    return darker ? [0, 0, 0] : [255, 255, 255];
  }

  // --- What lies behind the text -------------------------------------------------------------
  const state = { style: null, scrimAlpha: 0, minContrast: 0, busyness: 0 };

  // The colours behind `rect` before anything the page puts on top: the darkest and the
  // lightest that the backdrop has there.
  function backdropRange(card, rect, cardRect) {
    const style = state.style;
    const x0 = rect.left - cardRect.left, y0 = rect.top - cardRect.top, x1 = x0 + rect.width, y1 = y0 + rect.height;
    const bg = style && style.background;
    if (bg && bg.kind === 'solid') return [hexRgb(bg.colors[0])];
    if (bg && bg.kind === 'gradient') {
      const a = bg.angle * Math.PI / 180, dx = Math.sin(a), dy = -Math.cos(a);
      const w = cardRect.width, h = cardRect.height, length = Math.abs(w * dx) + Math.abs(h * dy);
      const at = function (x, y) { return Math.max(0, Math.min(1, ((x - w / 2) * dx + (y - h / 2) * dy) / length + 0.5)); };
      const ts = [at(x0, y0), at(x1, y0), at(x0, y1), at(x1, y1)];
      const c0 = hexRgb(bg.colors[0]), c1 = hexRgb(bg.colors[1]);
      return [Math.min.apply(null, ts), Math.max.apply(null, ts)].map(function (t) { return over(c1, t, c0); });
    }
    if (bg && bg.kind === 'image') {
      // The app's grid of the darkest and lightest grey of each cell of the photo, which the
      // app cut to cover the card exactly.
      const img = bg.image, ox = 0, oy = 0;
      const cw = cardRect.width / img.gridWidth, ch = cardRect.height / img.gridHeight;
      let lo = 255, hi = 0;
      const i0 = Math.max(0, Math.floor((x0 + ox) / cw)), i1 = Math.min(img.gridWidth - 1, Math.floor((x1 + ox) / cw));
      const j0 = Math.max(0, Math.floor((y0 + oy) / ch)), j1 = Math.min(img.gridHeight - 1, Math.floor((y1 + oy) / ch));
      for (let j = j0; j <= j1; j++)
        for (let i = i0; i <= i1; i++) {
          lo = Math.min(lo, img.darkest[j * img.gridWidth + i]);
          hi = Math.max(hi, img.lightest[j * img.gridWidth + i]);
        }
      return [[lo, lo, lo], [hi, hi, hi]];
    }
    // The theme's own backdrop, read from its pixels.
    const canvas = window.tazuBackdrop.pixels(card);
    if (!canvas) return [hexRgb('#808080')];
    const density = canvas.width / cardRect.width;
    const px = canvas.data;
    let dark = null, light = null, lo = 2, hi = -1;
    const step = Math.max(2, Math.round(6 * density));
    for (let y = Math.max(0, Math.floor(y0 * density)); y < Math.min(canvas.height, y1 * density); y += step)
      for (let x = Math.max(0, Math.floor(x0 * density)); x < Math.min(canvas.width, x1 * density); x += step) {
        const o = (y * canvas.width + x) * 4, c = [px[o], px[o + 1], px[o + 2]], l = luminance(c);
        if (l < lo) { lo = l; dark = c; }
        if (l > hi) { hi = l; light = c; }
      }
    return dark ? [dark, light] : [hexRgb('#808080')];
  }

  // The colours behind `el`'s text: the backdrop's, under the tint and the scrim where they
  // lie, under every background of the element and its ancestors.
  function behind(card, el, rect, cardRect) {
    let colors = backdropRange(card, rect, cardRect);
    const layers = [];
    const tint = card.querySelector('.style-tint');
    if (tint && !tint.hidden) layers.push(cssRgba(getComputedStyle(tint).backgroundColor));
    for (const scrim of card.querySelectorAll('.style-scrim')) {
      if (scrim.hidden) continue;
      const s = scrim.getBoundingClientRect();
      if (rect.left >= s.left - 1 && rect.right <= s.right + 1 && rect.top >= s.top - 1 && rect.bottom <= s.bottom + 1)
        layers.push(cssRgba(getComputedStyle(scrim).backgroundColor));
    }
    const chain = [];
    for (let e = el; e && e !== card; e = e.parentElement) chain.unshift(e);
    for (const e of chain) layers.push(cssRgba(getComputedStyle(e).backgroundColor));
    for (const layer of layers)
      if (layer[3] > 0) colors = colors.map(function (c) { return over(layer, layer[3], c); });
    return colors;
  }

  // The lowest contrast of the text in `elements` (each measured in its own box).
  function lowestContrast(card, elements) {
    const cardRect = card.getBoundingClientRect();
    const frame = card.querySelector('.card-frame').getBoundingClientRect();
    // The note's text shows only within its box: a cut note's lines past it are not drawn.
    const shownBox = document.getElementById('content').getBoundingClientRect();
    let lowest = Infinity;
    for (const el of elements) {
      const s = getComputedStyle(el);
      let opacity = 1;
      for (let e = el; e && e !== card; e = e.parentElement) opacity *= parseFloat(getComputedStyle(e).opacity);
      const text = cssRgba(s.color);
      // Each piece of the element on its own: a paragraph that runs from one card of a set onto
      // the next has a box across both, over the edge of the panel behind either piece.
      for (const r of el.getClientRects()) {
        const clip = el.closest('#content') ? shownBox : cardRect;
        const rect = { left: Math.max(r.left, cardRect.left), top: Math.max(r.top, cardRect.top, clip.top),
                       right: Math.min(r.right, cardRect.right), bottom: Math.min(r.bottom, cardRect.bottom, clip.bottom) };
        rect.width = rect.right - rect.left;
        rect.height = rect.bottom - rect.top;
        if (rect.width <= 0 || rect.height <= 0) continue;
        if (el.closest('#content') && (r.bottom <= frame.top || r.top >= frame.bottom || r.right <= frame.left || r.left >= frame.right)) continue;
        for (const b of behind(card, el, rect, cardRect)) {
          const shown = over(text, text[3] * opacity, b);
          lowest = Math.min(lowest, contrast(shown, b));
        }
      }
    }
    return lowest === Infinity ? 21 : lowest;
  }

  function textElements(card) {
    const out = new Set();
    for (const n of root.CarderText.textNodesNear(card, card.getBoundingClientRect(), 400)) {
      const el = n.parentElement;
      if (!el.closest('#content, #signature, #cover') || el.closest('[hidden], .katex-mathml')) continue;
      out.add(el);
    }
    return Array.from(out);
  }

  // --- Putting a style on the card -------------------------------------------------------------
  const THEME_IS_DARK = {};
  for (const theme of root.CarderThemes || []) THEME_IS_DARK[theme.id] = theme.dark;

  // Before layout: what the style changes in the card's look. Returns the theme whose colours
  // the text takes (the chosen one, or the nearest one for the style's background).
  function apply(card, style, theme) {
    state.style = style && typeof style === 'object' ? style : null;
    state.scrimAlpha = 0;
    const backdrop = card.querySelector('.style-backdrop'), tint = card.querySelector('.style-tint');
    const signature = document.getElementById('signature');
    backdrop.hidden = true;
    backdrop.style.background = '';
    tint.hidden = true;
    for (const scrim of card.querySelectorAll('.style-scrim')) scrim.hidden = true;
    signature.hidden = true;
    card.classList.remove('signed', 'styled');
    for (const name of ['--style-body-font', '--style-heading-font', '--style-code-font', '--accent', '--link',
                        '--quote-bar', '--mark-band', '--highlight-bg', '--highlight-ink'])
      card.style.removeProperty(name);
    card.classList.remove('style-fonts-body', 'style-fonts-heading', 'style-fonts-code');
    if (!state.style) return theme;
    const s = state.style, bg = s.background;
    card.classList.add('styled');

    let palette = theme;
    if (bg && bg.kind !== 'theme') {
      backdrop.hidden = false;
      if (bg.kind === 'solid') backdrop.style.background = bg.colors[0];
      else if (bg.kind === 'gradient') backdrop.style.background = 'linear-gradient(' + bg.angle + 'deg, ' + bg.colors[0] + ', ' + bg.colors[1] + ')';
      else backdrop.style.background = '0 0 / 100% 100% no-repeat url("' + bg.image.uri + '")';
      // Dark text on a light background, light text on a dark one: the theme's own colours
      // when its side fits, else those of the theme that does.
      const mean = backdropMean(bg);
      const dark = contrast(mean, [255, 255, 255]) > contrast(mean, [0, 0, 0]);
      if (dark !== THEME_IS_DARK[theme]) palette = dark ? 'ink' : 'paper';
    } else if (s.accent) {
      // An accent alone tints the theme's backdrop, lightly.
      tint.hidden = false;
      tint.style.backgroundColor = rgbaOf(s.accent, 0.07);
    }
    // A font the style names goes first; the font setting's stack stays behind it for what
    // it lacks (another script, emoji).
    const FALLBACK = { body: card.style.fontFamily, heading: card.style.fontFamily,
                       code: 'ui-monospace, "DejaVu Sans Mono", monospace' };
    for (const role of ['body', 'heading', 'code']) {
      const family = fontFamilyOf(s.fonts && s.fonts[role]);
      if (!family) continue;
      card.style.setProperty('--style-' + role + '-font', '"' + family + '", ' + (FALLBACK[role] || 'sans-serif'));
      card.classList.add('style-fonts-' + role);
    }
    if (s.signature && (s.signature.name || s.signature.handle)) {
      signature.hidden = false;
      card.classList.add('signed');
      signature.querySelector('.signature-name').textContent = s.signature.name || '';
      signature.querySelector('.signature-handle').textContent = s.signature.handle || '';
      const avatar = signature.querySelector('.signature-avatar');
      avatar.hidden = !s.signature.avatar;
      if (s.signature.avatar) avatar.src = s.signature.avatar;
    }
    return palette;
  }
  // A role's font: a family installed here ("Inter"), or a file the app serves ({uri}),
  // which the page knows as a family of its own.
  function fontFamilyOf(font) {
    if (!font) return '';
    if (typeof font === 'string') return font.replace(/["\\;{}]/g, '');
    if (typeof font === 'object' && /^norvo-image:/.test(String(font.uri))) return 'NorvoStyleFont-' + font.uri.replace(/[^a-z0-9]/gi, '');
    return '';
  }
  // Faces for the font files of `style`, loaded before the card is laid out. Each face is added
  // on its own (rewriting a style sheet would drop the faces already loading), and one that
  // fails is left out: the card keeps the theme's font. A slow one is waited for (the app's
  // watchdog fails a card that waits too long), so a busy machine draws the same card.
  // Resolves to the roles whose font could not be loaded.
  const loadedFaces = {};
  async function loadFonts(style) {
    const fonts = style && style.fonts;
    if (!fonts) return [];
    const roles = [];
    const waits = [];
    for (const role of ['body', 'heading', 'code']) {
      const font = fonts[role];
      if (!font || typeof font !== 'object') continue;
      const family = fontFamilyOf(font);
      if (!family) continue;
      if (!loadedFaces[family]) {
        const face = new FontFace(family, 'url("' + font.uri + '")');
        document.fonts.add(face);
        loadedFaces[family] = face.load().then(function () { return true; }, function () {
          document.fonts.delete(face);
          return false;
        });
      }
      roles.push(role);
      waits.push(loadedFaces[family]);
    }
    const loaded = await Promise.all(waits);
    return roles.filter(function (role, i) { return !loaded[i]; });
  }
  function backdropMean(bg) {
    if (bg.kind === 'solid') return hexRgb(bg.colors[0]);
    if (bg.kind === 'gradient') return over(hexRgb(bg.colors[0]), 0.5, hexRgb(bg.colors[1]));
    const img = bg.image, n = img.darkest.length;
    let sum = 0;
    for (let i = 0; i < n; i++) sum += (img.darkest[i] + img.lightest[i]) / 2;
    return [sum / n, sum / n, sum / n];
  }

  // How busy a photo is behind `rect`: the mean, over the cells of the app's grid that the
  // rectangle covers, of the spread between a cell's darkest and lightest grey (0 flat, 1 a
  // cell of black and white). What shows through a scrim of alpha a is (1 - a) of it.
  function busyness(rect, cardRect) {
    const img = state.style.background.image;
    const cw = cardRect.width / img.gridWidth, ch = cardRect.height / img.gridHeight;
    const i0 = Math.max(0, Math.floor((rect.left - cardRect.left) / cw));
    const i1 = Math.min(img.gridWidth - 1, Math.floor((rect.right - cardRect.left) / cw));
    const j0 = Math.max(0, Math.floor((rect.top - cardRect.top) / ch));
    const j1 = Math.min(img.gridHeight - 1, Math.floor((rect.bottom - cardRect.top) / ch));
    let sum = 0, n = 0;
    for (let j = j0; j <= j1; j++)
      for (let i = i0; i <= i1; i++, n++) sum += (img.lightest[j * img.gridWidth + i] - img.darkest[j * img.gridWidth + i]) / 255;
    return n ? sum / n : 0;
  }

  // After layout: a scrim where the backdrop fights the text, the accent made readable, and
  // the card's lowest contrast measured. QUIET: the busyness text reads over.
  const NEED = 4.5, MARGIN = 0.15, QUIET = 0.06;
  // A formula's own colours (\color{#fff}) read as the rest of the text does: made lighter or
  // darker, hue kept, until they do.
  function readableFormulaColours(card, paletteIsDark) {
    const cardRect = card.getBoundingClientRect();
    for (const el of card.querySelectorAll('#content .katex [style*="color"], #cover .katex [style*="color"]')) {
      if (!el.style.color) continue;
      const rects = Array.from(el.getClientRects());
      if (!rects.length) continue;
      const colours = [].concat.apply([], rects.map(function (r) { return behind(card, el, r, cardRect); }));
      const own = cssRgba(getComputedStyle(el).color).slice(0, 3);
      el.style.color = rgbHex(readable(own, colours, NEED + MARGIN, !paletteIsDark));
    }
  }
  function finish(card, paletteIsDark) {
    finishStyle(card, paletteIsDark);
    readableFormulaColours(card, paletteIsDark);  // over the scrim, when there is one
  }
  // The scrims placed where they go: on a colour or a gradient the whole card (`wholeCard`: a
  // panel's edge would be the one hard line on the card), on a photo one behind the text area,
  // one behind the corner across from the wordmark (signature, page mark, swipe cue, cut cue:
  // they share it) and one behind the wordmark. Returns [[scrim, what it covers or null]] and
  // the marks (not text) that keep 3:1 under them.
  function placeScrims(card, content, wholeCard) {
    const scrims = Array.from(card.querySelectorAll('.style-scrim'));
    const wordmark = document.getElementById('wordmark');
    const corner = ['signature', 'pagemark', 'swipe', 'continues'].map(function (id) { return document.getElementById(id); })
      .filter(function (el) { return !el.hidden; });
    const cornerBox = corner.length ? { getBoundingClientRect: function () { return unionRect(corner); } } : null;
    const marks = (wordmark.hidden ? [] : Array.from(wordmark.querySelectorAll('.wordmark-text')))
      .concat(corner.filter(function (el) { return el.id === 'pagemark' || el.id === 'swipe'; }));
    const textBox = { getBoundingClientRect: function () { return shownRect(content); } };
    const placed = wholeCard ? [[scrims[0], card], [scrims[1], null], [scrims[2], null]]
                             : [[scrims[0], textBox], [scrims[1], cornerBox], [scrims[2], wordmark.hidden ? null : wordmark]];
    scrims[0].classList.toggle('whole-card', wholeCard);
    placed.forEach(function (p, i) { if (p[1]) placeScrim(p[0], p[1].getBoundingClientRect(), card, wholeCard ? 0 : i > 0 ? 0.018 : 0.035); });
    return { placed: placed, marks: marks };
  }

  // The faintest of 20 steps that `passes`, by halving: a thicker scrim only adds contrast.
  function faintestStep(passes) {
    if (passes(0)) return 0;
    let lo = 0, hi = 20;
    while (hi - lo > 1) {
      const mid = (lo + hi) >> 1;
      if (passes(mid)) hi = mid; else lo = mid;
    }
    return hi;
  }

  // The scrim: the palette's backdrop colour behind the text area (and the signature), at the
  // lowest opacity, in 5 % steps, at which the text keeps its 4.5:1 and the marks their 3:1.
  function fitScrim(card, content, elements, bgKind) {
    const scrims = placeScrims(card, content, bgKind !== 'image');
    const color = getComputedStyle(card).getPropertyValue('--bg').trim();
    const passes = function (step) {
      state.scrimAlpha = step / 20;
      for (const [scrim, over] of scrims.placed) {
        scrim.style.backgroundColor = rgbaOf(color, state.scrimAlpha);
        scrim.hidden = !(step > 0) || !over;
      }
      return lowestContrast(card, elements) >= NEED + MARGIN && lowestContrast(card, scrims.marks) >= 3 + MARGIN;
    };
    let step = faintestStep(passes);
    // Contrast by number is not enough on a busy photo: every letter would still cross its
    // edges. The scrim under the text is dense enough to calm what shows through to a
    // quiet texture.
    const busy = bgKind === 'image' ? busyness(shownRect(content), card.getBoundingClientRect()) : 0;
    if (busy > QUIET) step = Math.max(step, Math.min(19, Math.ceil(20 * (1 - QUIET / busy))));
    passes(step);
    state.busyness = Math.round(busy * (1 - state.scrimAlpha) * 100) / 100;
  }

  // The accent (the style's, or the theme's on the style's background) as readable text
  // (4.5:1) and as rules and bullets (3:1) on what is behind the text, hue kept. Returns the
  // accent as rules take it.
  function readableAccent(card, s, bgKind, behindText, paletteIsDark) {
    const own = cssRgba(getComputedStyle(card).getPropertyValue('--accent').trim().replace(/^#.*/, function (h) {
      return /^#[0-9a-f]{6}$/i.test(h) ? 'rgb(' + hexRgb(h).join(',') + ')' : h;
    }));
    const accent = s.accent ? hexRgb(s.accent) : own.slice(0, 3);
    const asText = readable(accent, behindText, NEED + MARGIN, !paletteIsDark);
    const asRule = readable(accent, behindText, 3 + MARGIN, !paletteIsDark);
    card.style.setProperty('--accent', rgbHex(asRule));
    card.style.setProperty('--quote-bar', rgbHex(asRule));
    card.style.setProperty('--link', rgbHex(asText));
    // Marked code lines: on a gradient or a photo, the palette's backdrop colour laid thinly
    // over what is behind the code (opaque, it reads as a hole); it only adds contrast.
    card.style.setProperty('--mark-band', bgKind === 'theme' ? 'color-mix(in srgb, ' + rgbHex(asRule) + ' 12%, var(--bg))'
                                                              : 'color-mix(in srgb, var(--bg) 45%, transparent)');
    return asRule;
  }

  // A highlight in the style's accent: a band under the card's own ink, as strong as the ink's
  // contrast on it allows.
  function readableHighlight(card, content, asRule, behindText, paletteIsDark) {
    // A band of a colourless or near-black accent reads as a grey box (inline code): the
    // theme's own highlight colour instead, held to the same contrast.
    const [, saturation, lightness] = hsl(asRule);
    const band = saturation >= 0.25 && lightness >= 0.12 && lightness <= 0.92
      ? asRule : cssRgba(getComputedStyle(card).getPropertyValue('--highlight-bg').trim()).slice(0, 3);
    const ink = cssRgba(getComputedStyle(content).color).slice(0, 3);
    let alpha = 0.3;
    const inkReads = function (a) {
      return behindText.every(function (b) { return contrast(ink, over(band, a, b)) >= NEED + MARGIN; });
    };
    while (alpha > 0.12 && !inkReads(alpha)) alpha -= 0.02;
    // Where even a faint band takes the ink under 4.5:1 (dark ink on a mid-tone photo), the
    // highlighted words take an ink that reads on it: the band stays visible.
    const onBand = behindText.map(function (b) { return over(band, alpha, b); });
    card.style.setProperty('--highlight-bg', 'rgba(' + band.map(Math.round).join(',') + ',' + alpha.toFixed(2) + ')');
    card.style.setProperty('--highlight-ink', inkReads(alpha) ? 'var(--ink)' : rgbHex(readable(ink, onBand, NEED + MARGIN, !paletteIsDark)));
  }

  // The style made readable on the laid-out card: the scrim on a backdrop of the style's own,
  // the accent and the highlight band.
  function finishStyle(card, paletteIsDark) {
    state.minContrast = 0;
    state.busyness = 0;
    if (!state.style) return;
    const s = state.style;
    // The text area: the note's, or the cover's when the cover is shown.
    const cover = document.getElementById('cover');
    const content = cover.hidden ? document.getElementById('content') : cover;
    const elements = textElements(card);
    const bgKind = s.background ? s.background.kind : 'theme';
    if (bgKind !== 'theme') fitScrim(card, content, elements, bgKind);
    if (s.accent || bgKind !== 'theme') {
      const cardRect = card.getBoundingClientRect();
      const behindText = behind(card, content, shownRect(content), cardRect);
      const asRule = readableAccent(card, s, bgKind, behindText, paletteIsDark);
      readableHighlight(card, content, asRule, behindText, paletteIsDark);
    }
  }
  // The text area where it shows on the card: a set's text is moved sideways to show one of its
  // cards, which its own box does not follow.
  function shownRect(content) {
    const r = content.getBoundingClientRect();
    const paged = root.CarderFit && root.CarderFit.state.paged;
    if (!paged || content.id !== 'content') return r;
    const shift = (paged.page - 1) * paged.step;
    return { left: r.left + shift, right: r.right + shift, top: r.top, bottom: r.bottom, width: r.width, height: r.height };
  }
  function unionRect(elements) {
    const rects = elements.map(function (el) { return el.getBoundingClientRect(); });
    const left = Math.min.apply(null, rects.map(function (r) { return r.left; }));
    const top = Math.min.apply(null, rects.map(function (r) { return r.top; }));
    const right = Math.max.apply(null, rects.map(function (r) { return r.right; }));
    const bottom = Math.max.apply(null, rects.map(function (r) { return r.bottom; }));
    return { left: left, top: top, right: right, bottom: bottom, width: right - left, height: bottom - top };
  }
  function placeScrim(scrim, r, card, margin) {
    const c = card.getBoundingClientRect(), pad = Math.round(Math.min(c.width, c.height) * margin);
    scrim.style.left = (r.left - c.left - pad) + 'px';
    scrim.style.top = (r.top - c.top - pad) + 'px';
    scrim.style.width = (r.width + 2 * pad) + 'px';
    scrim.style.height = (r.height + 2 * pad) + 'px';
  }
  function rgbaOf(hex, alpha) {
    const c = /^#[0-9a-f]{6}$/i.test(hex) ? hexRgb(hex) : [128, 128, 128];
    return 'rgba(' + c[0] + ',' + c[1] + ',' + c[2] + ',' + alpha.toFixed(2) + ')';
  }

  // The report's minContrast: measured on every card, styled or not.
  function measure(card) { return Math.round(lowestContrast(card, textElements(card)) * 100) / 100; }

  root.CarderStyle = { apply: apply, finish: finish, measure: measure, loadFonts: loadFonts, state: state,
                       contrast: contrast, readable: readable, hexRgb: hexRgb };
})(this);
