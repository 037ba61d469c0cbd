// The card page. Two entry points, both of which lay out the finished card in the top-left
// width x height rectangle before they return:
//   window.tazuCard(markdown, theme, width, height, wordmark, scale): one card.
//   window.tazuCardDraw(options): the same six as one object, and beyond them
//     pages: true      the note as a set of same-size cards, the first shown;
//     cover, pageMarks, split   the set's cover, its numbering and where its cards start;
//     grows: true      a long picture, as tall as the note needs up to `height`;
//     showPage: n      only show card n of the set laid out last (no other settings);
//     report: true     measure the finished layout;
//     plainLayout: true  plain line breaking (the engine's fallback after a page died);
//     density: 2       the backdrop drawn for a view zoomed to two pixels per CSS pixel;
//     pictures: {...}  the pictures the app serves, by the target the note names;
//     style: {...}     the user's style (accent, background, fonts, signature; see style.js);
//     backdrop: uri    the theme's backdrop for this size, painted by the app.
//   It returns {pages: <cards in the set, 1 for one card>, report: <measurements> or null,
//   pending: <whether a picture is on its way: wait for tazuCardPicturesReady()>}.
// The work is done by text.js, markdown.js, fit.js, pages.js and report.js, loaded before this file.
(function () {
  'use strict';

  const THEMES = window.CarderThemes.map(function (t) { return t.id; });
  const Fit = window.CarderFit;
  const Pages = window.CarderPages;
  const renderer = window.CarderMarkdown.createRenderer(window.markdownit, function () { return window.hljs; },
                                                        function () { return window.katex; });

  // A note may hold a megabyte, but a card shows a few thousand characters and a set twenty
  // cards of them: the page lays out a bounded part, so that any note is drawn in time
  // (markdown-it's emphasis parsing alone grows with the square of a paragraph's length).
  // Front matter is set apart first, whatever its length, so that the bound never cuts it open
  // (the card would show its lines as text); a card shows only the first characters of its lines.
  const MAX_SOURCE = 64 * 1024;  // characters of Markdown; more is never visible
  const FRONT_LINE = 280, FRONT_LINES = 64;
  function clippedLine(line) {
    const most = Math.max(0, line.indexOf(':') + 2) + FRONT_LINE;  // the key, then the value's characters
    if (line.length <= most) return line;
    return line.slice(0, /[\uD800-\uDBFF]/.test(line[most - 1]) ? most - 1 : most);
  }
  function bounded(markdown) {
    const split = window.CarderMarkdown.splitFrontMatter(String(markdown));
    const front = split.found ? '---\n' + split.front.slice(0, FRONT_LINES).map(clippedLine).join('\n') + '\n---\n' : '';
    const body = split.body;
    if (body.length <= MAX_SOURCE) return { text: front + body, truncated: false };
    const lineEnd = body.lastIndexOf('\n', MAX_SOURCE);
    return { text: front + body.slice(0, lineEnd > MAX_SOURCE / 2 ? lineEnd : MAX_SOURCE), truncated: true };
  }

  // Table rows past what `cards` cards can show even at the smallest text size are dropped
  // before anything is measured. Returns whether any were.
  function dropInvisibleRows(content, frameHeight, cards, min) {
    const most = cards * Math.ceil(frameHeight / (0.8 * min)) + 2;
    let dropped = false;
    for (const body of content.querySelectorAll('tbody')) {
      while (body.rows.length > most) {
        body.lastElementChild.remove();
        dropped = true;
      }
    }
    return dropped;
  }

  // Everything a card needs before it is fitted: its size, theme, backdrop and the note
  // rendered into the content. `o` is the card as tazuCardDraw takes it; `cards` is how many
  // cards it may take. Returns what fitting needs.
  function prepare(o, cards) {
    const markdown = o.markdown, width = o.width, height = o.height, wordmark = o.wordmark;
    const density = o.density === 2 ? 2 : 1, pictures = o.pictures, style = o.style, backdrop = o.backdrop;
    let theme = o.theme, scale = o.scale;
    const card = document.getElementById('card');
    const frame = card.querySelector('.card-frame');
    const content = document.getElementById('content');
    if (!(isFinite(scale) && scale > 0)) scale = 1;

    theme = THEMES.indexOf(theme) >= 0 ? theme : 'paper';
    card.className = 'card theme-' + theme;
    card.style.width = width + 'px';
    card.style.height = height + 'px';
    // A long picture's backdrop is drawn once its height is known.
    if (!o.grows) window.tazuBackdrop.show(card, theme, width, height, density, backdrop);
    // The style's background may call for the other side's text colours.
    const palette = window.CarderStyle.apply(card, style, theme);
    if (palette !== theme) card.classList.replace('theme-' + theme, 'theme-' + palette);
    paletteIsDark = palette !== 'paper';

    // One unit that grows with the card's area, so every preset looks alike (a long picture's
    // with its width: its height is not known yet).
    const unit = (o.grows ? width : Math.sqrt(width * height)) / 1080;
    const pad = Math.round(Math.min(width, height) * 0.09);
    const landscape = width > height;
    const story = !o.grows && height >= width * 1.7;  // a long picture is read in a chat, not a story app
    // Story apps cover the top 250 px and the bottom 300 px with their own controls.
    const safeTop = story ? 250 : 0, safeBottom = story ? 300 : 0;
    card.style.setProperty('--pad', pad + 'px');
    card.style.setProperty('--unit', unit + 'px');
    card.style.setProperty('--safe-top', safeTop + 'px');
    card.style.setProperty('--safe-bottom', safeBottom + 'px');
    card.classList.toggle('story', story);

    document.getElementById('wordmark').hidden = !wordmark;
    document.getElementById('continues').hidden = true;
    document.getElementById('pagemark').hidden = true;
    Fit.reset();
    window.CarderCover.reset();
    frame.classList.remove('paged');
    content.className = 'content';
    content.style.maxHeight = '';
    content.style.gridTemplateColumns = '';
    content.style.transform = '';
    content.style.height = '';
    content.removeAttribute('lang');
    const source = bounded(markdown);
    content.textContent = '';
    // Measured before the note is in: nothing to lay out.
    const frameHeight = frame.clientHeight, frameWidth = frame.clientWidth;
    content.innerHTML = renderer.render(source.text, pictures);
    const floor = landscape ? 22 : 26;
    const rowsDropped = dropInvisibleRows(content, frameHeight, cards, floor * scale);
    window.CarderMarkdown.finish(content);

    // A note that is a picture (and a line to go with it) is the picture, as large as the card allows.
    const pictureHero = cards === 1 && Fit.isPictureHero(content);
    content.classList.toggle('hero-picture', pictureHero);
    const hero = !pictureHero && Fit.isHero(content);
    content.classList.toggle('hero', hero);
    content.classList.toggle('hero-heading', hero && content.firstElementChild.tagName !== 'P');
    // A single word or emoji is the whole picture: large, and centred in the safe area.
    const single = hero && /^\S{1,24}$/u.test(content.textContent.trim());
    content.classList.toggle('hero-single', single);
    // A short note of typed lines (a haiku, a slogan in lines) keeps each line whole.
    content.classList.toggle('hero-lines', hero && !single && Boolean(content.querySelector('br')));

    // A formula alone (under a heading, at most) is the card's hero; its heading steps back.
    const formulaHero = !hero && Fit.isFormulaHero(content);
    content.classList.toggle('formula-hero', formulaHero);

    // The readable floor (above); the scale biases the whole search instead of the result.
    const truncated = rowsDropped || source.truncated;
    return { frame: frame, frameWidth: frameWidth, content: content, landscape: landscape, hero: hero, pad: pad,
             truncated: truncated, theme: theme,
             min: floor * scale, tableMin: 18 * scale, formulaMin: floor,
             max: (single ? 420 : hero || formulaHero ? 150 : 68) * unit * scale };
  }

  let paletteIsDark = false;
  window.tazuCard = function (markdown, theme, width, height, wordmark, scale) {
    document.documentElement.classList.remove('plain-layout');
    document.getElementById('card').style.transform = '';
    density = 1;
    Fit.layOutCard(prepare({ markdown: markdown, theme: theme, width: width, height: height, wordmark: wordmark,
                             scale: scale }, 1));
    return true;
  };

  // A card of density 2 is laid out and measured at its own size, then scaled up whole: the
  // same layout, drawn with twice the pixels (its backdrop already has them).
  let density = 1;
  window.tazuCardDraw = function (o) {
    const card = document.getElementById('card');
    card.style.transform = '';
    let pages = 1, height = o.height;
    if (o.showPage !== undefined) {
      pages = Pages.showPage(o.showPage);
      window.CarderStyle.finish(card, paletteIsDark);
    } else {
      density = o.density === 2 ? 2 : 1;
      document.documentElement.classList.toggle('plain-layout', Boolean(o.plainLayout));
      const c = prepare(o, o.pages ? Pages.MAX_PAGES + 1 : 1);
      if (o.grows) {
        // A long picture: about 42 px of body text at 1080 wide, times the text size.
        height = Fit.layOutLong(c, card, o.width, o.height, 42 * o.width / 1080 * (o.scale > 0 ? o.scale : 1));
        window.tazuBackdrop.show(card, c.theme, o.width, height, density, null);
      } else if (o.pages) {
        // A cover takes the note's first heading; a note without one has none.
        const title = o.cover ? window.CarderCover.takeTitle(c.content) : null;
        pages = Pages.layOut(c, 1, { cover: Boolean(title), marks: o.pageMarks, split: o.split });
        if (title) {
          window.CarderCover.layOut(c, title, window.CarderMarkdown.frontLines(bounded(o.markdown).text));
          Pages.showPage(1);
        }
      } else {
        Fit.layOutCard(c);
        // Larger text is asked for, not a cut: a note the larger floor cannot hold is laid out
        // again from the everyday floor, up to the larger sizes still.
        if (Fit.state.cut && o.scale > 1 && !c.truncated) {
          const everyday = prepare(Object.assign({}, o, { scale: 1 }), 1);
          everyday.max = c.max;
          Fit.layOutCard(everyday);
        }
      }
      window.CarderStyle.finish(card, paletteIsDark);
    }
    const report = o.report ? window.CarderReport.measure() : null;
    if (density !== 1) {
      card.style.transformOrigin = '0 0';
      card.style.transform = 'scale(' + density + ')';
    }
    return { pages: pages, report: report, pending: window.tazuBackdrop.pending(card), height: height };
  };

  // Before a note with formulas or pictures is drawn: KaTeX joins the page (its script, style
  // sheet and fonts, all from the bundle), and the answer names the pictures the note asks for,
  // so that the app can serve them. Resolves to JSON text.
  let katexLoading = null;
  function load(tag, attributes) {
    return new Promise(function (resolve) {
      const el = document.createElement(tag);
      for (const name in attributes) el.setAttribute(name, attributes[name]);
      el.onload = function () { resolve(true); };
      el.onerror = function () { resolve(false); };
      document.head.appendChild(el);
    });
  }
  const KATEX_FACES = ['KaTeX_Main', 'italic KaTeX_Main', 'bold KaTeX_Main', 'italic KaTeX_Math', 'KaTeX_AMS',
                       'KaTeX_Size1', 'KaTeX_Size2', 'KaTeX_Size3', 'KaTeX_Size4', 'KaTeX_Caligraphic',
                       'KaTeX_Fraktur', 'KaTeX_SansSerif', 'KaTeX_Script', 'KaTeX_Typewriter'];
  function loadKatex() {
    if (!katexLoading) {
      katexLoading = Promise.all([load('link', { rel: 'stylesheet', href: 'katex/katex.css' }),
                                  load('script', { src: 'katex/katex.js' })]).then(function () {
        // Every face before the first formula is measured: a face that arrives later would
        // change a layout already fitted.
        return Promise.all(KATEX_FACES.map(function (face) {
          return document.fonts.load(face.replace(/(KaTeX_)/, '20px $1')).catch(function () { return []; });
        }));
      });
    }
    return katexLoading;
  }
  window.tazuCardPrepare = async function (o) {
    const text = bounded(o.markdown).text;
    if (window.CarderFormulas.mayHoldFormula(text)) await loadKatex();
    const failedFonts = await window.CarderStyle.loadFonts(o.style);
    return JSON.stringify({ pictures: renderer.pictureTargets(text).slice(0, 64), failedFonts: failedFonts });
  };
  // The style's background picture, drawn as the card's backdrop: decoded before the snapshot.
  function styleImages() {
    const style = window.CarderStyle.state.style;
    return style && style.background && style.background.kind === 'image' ? [style.background.image.uri] : [];
  }
  function decoded(uri) {
    const img = new Image();
    img.src = uri;
    return img.decode().catch(function () { return null; });
  }
  // Resolves once the view is `height` tall (a long picture's grew after its layout). However
  // long that takes on a busy machine: the app's watchdog fails a card that never gets there.
  function viewReaches(height) {
    return new Promise(function (resolve) {
      (function check() {
        if (!(height > 0) || window.innerHeight >= height) resolve();
        else setTimeout(check, 4);
      })();
    });
  }
  // Resolves once every picture on the card is decoded, so the snapshot has them all (and the
  // view is `viewHeight` tall, when given).
  window.tazuCardPicturesReady = async function (viewHeight) {
    await viewReaches(viewHeight);
    const pictures = Array.from(document.querySelectorAll('#content img.picture, #signature img:not([hidden])'));
    await Promise.all(pictures.map(function (img) { return img.decode().catch(function () { return null; }); })
                        .concat(styleImages().map(decoded))
                        .concat([window.tazuBackdrop.ready(document.getElementById('card'))]));
    return pictures.filter(function (img) { return img.complete && img.naturalWidth > 0; }).length;
  };
})();
