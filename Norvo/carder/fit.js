// Fitting a note to its card: the largest whole-pixel text size at which it fits (one
// search, shared with sets of cards in pages.js), wide tables and code, hyphens for words
// wider than a line, whole-line cuts and two columns on landscape.
(function (root) {
  'use strict';

  const Text = root.CarderText;
  const Lines = root.CarderLines;

  // The share of the card's height pictures take beside text, and the least they give way to
  // (about a third) so that the text is not set at its floor or cut.
  const PICTURE_SHARE = 0.55, PICTURE_SHARES_GIVEN = [0.45, 0.36];
  const NEAR_FLOOR = 1.3;
  // The least share of the body code beside prose may take to keep its lines whole.
  const CODE_LEAST_SHARE = 0.65;
  // Code that is the card keeps its lines whole while that keeps this share of the size at
  // which it would wrap between names.
  const WHOLE_CODE_SHARE = 0.75;

  // What the last layout left for the report: whether the note is cut, and the set of cards.
  // `tableMin` is the smallest text a table may take (set with each layout).
  const state = { cut: false, paged: null, tableMin: 18, formulaMin: 26, pictureShare: PICTURE_SHARE };

  // The largest whole size in [lo, hi] that passes, or lo. `guess()`, asked once hi has
  // failed, is where to look first: from there the search steps up while sizes pass, or
  // halves the range below it. Whole pixels keep the engine's font caches warm while the
  // user types; a good first guess means only a few layouts are needed.
  function largestPassing(lo, hi, passes, guess) {
    if (passes(hi)) return hi;
    if (guess) {
      let size = guess();
      if (passes(size)) {
        while (size + 1 < hi && passes(size + 1)) size++;
        return size;
      }
      hi = size;  // lo may not pass either: then the note is cut at the minimum
    }
    while (hi - lo > 1) {
      const mid = Math.floor((lo + hi) / 2);
      if (passes(mid)) lo = mid; else hi = mid;
    }
    return lo;
  }

  // Tables and code blocks first give up their own text size to fit the width (down to 0.8x
  // the body, or to `floor` once the body is there); past that, code wraps its long lines under
  // their indentation and tables wrap their cells between words.
  // The width a code block needs: its widest line and its padding on both sides (the block's
  // own scrollWidth leaves out the right padding a line runs into).
  function codeWidth(pre) {
    let widest = 0;
    for (const line of pre.querySelectorAll('.code-line')) widest = Math.max(widest, line.scrollWidth);
    const style = getComputedStyle(pre);
    return Math.max(pre.scrollWidth, widest + parseFloat(style.paddingLeft) + parseFloat(style.paddingRight));
  }

  // A one-line command reads as one: wrapped over more than two lines, it is set at the
  // largest size (in half pixels) at which two hold it, never below the floor.
  function shrinkOneLiner(pre, px, floor) {
    const lines = pre.querySelectorAll('.code-line');
    if (lines.length !== 1) return;
    const twoRows = function (halves) {
      pre.style.fontSize = halves / 2 + 'px';
      Lines.releaseOverlongOptions(pre);
      return lines[0].getBoundingClientRect().height < 2.5 * parseFloat(getComputedStyle(pre).lineHeight);
    };
    const most = Math.floor(px * 2), least = Math.ceil(Math.min(px, floor) * 2);
    // A command too long for two lines even at the floor is better read large, over more.
    if (most <= least || twoRows(most) || !twoRows(least)) return twoRows(most);
    twoRows(largestPassing(least, most - 1, twoRows));
  }

  function fitWideBlocks(content, bodyPx, floor) {
    const width = state.paged && state.paged.columnWidth ? state.paged.columnWidth : content.clientWidth;
    sizePictures(content, width);
    // A wide formula is as large as its column allows at any text size: its floor is the
    // readable one, not the one the text-size setting raises.
    if (content.querySelector('.formula-display'))
      window.CarderFormulas.fitDisplayFormulas(content, width, Math.min(floor, state.formulaMin));
    const beside = Boolean(content.querySelector('p, li'));
    for (const block of content.querySelectorAll('table, pre')) {
      const isTable = block.tagName === 'TABLE';
      // (A block that spans a card of two columns has the card's width.)
      const spans = state.paged && block.classList.contains('spans-card');
      const across = spans ? state.paged.perCard * width + (state.paged.perCard - 1) * state.paged.gap : width;
      const room = isTable && !spans ? Math.min(width, block.parentElement.clientWidth) : across;
      if (isTable) showAllColumns(block);
      block.classList.remove('wrapped');
      let px = bodyPx * (isTable ? 0.9 : 0.86);
      block.style.fontSize = px + 'px';
      const wide = isTable ? block.offsetWidth : codeWidth(block);
      if (wide <= room + 0.5) continue;
      // One type scale: while the body is above its floor, a block stays within a step of it
      // (0.8x) and wraps instead; only at the floor may it shrink further to fit.
      const least = bodyPx > floor + 0.5 ? Math.min(px, 0.8 * bodyPx) : Math.min(px, floor);
      // Beside prose, code a step further down keeps its lines whole rather than wrap; never
      // below the floor. (Where code is the note, the text size itself comes down instead:
      // see layOutCard, which also keeps names whole where lines must wrap.)
      const codeLeast = isTable || !beside ? least : Math.min(least, Math.max(CODE_LEAST_SHARE * bodyPx, Math.min(px, floor)));
      const whole = Math.floor(px * room / wide * 100) / 100;
      px = Math.max(whole >= codeLeast ? codeLeast : least, whole);
      block.style.fontSize = px + 'px';
      const still = isTable ? block.offsetWidth : codeWidth(block);
      if (still <= room + 0.5) continue;
      block.classList.add('wrapped');
      if (!isTable) {
        Lines.addCodeBreaks(block);
        Lines.releaseOverlongOptions(block);
        shrinkOneLiner(block, px, floor);
      }
      if (isTable && bodyPx <= floor + 0.5) fitTableAtFloor(block, px, room);
    }
  }

  // Pictures keep their aspect ratio and fit the column; together they take at most about half
  // of the card's height when the note has text besides (a share each), nearly all of it when
  // it has none, and a picture on a card of a set at most 60 % of the card. Never larger than
  // its own pixels. Sizes are set, not left to the picture: the layout is done before the
  // picture is decoded. A hero picture is sized by layOutPictureHero.
  // Pictures on consecutive lines of their own stand side by side, as one row: the row takes
  // one picture's share of the height, each picture its part of the width.
  function sizePictures(content, width) {
    const blocks = content.querySelectorAll('img.picture-block');
    if (!blocks.length || content.classList.contains('hero-picture')) return;
    const frameHeight = content.parentElement.clientHeight;
    const hasText = Boolean(content.textContent.trim());
    if (content.classList.contains('picture-beside')) {
      // Beside the text on a wide card: as tall as the card lets its column be. A picture
      // narrower than its column (a phone's screenshot) takes only its own width: the text
      // has the rest, no empty band between them.
      content.style.gridTemplateColumns = '';
      const img = blocks[0], column = img.parentElement.clientWidth;
      const w = Number(img.dataset.width), h = Number(img.dataset.height);
      const shown = Math.floor(Math.min(column, 2 * w, frameHeight * w / h));
      img.style.width = shown + 'px';
      img.style.height = Math.floor(shown * h / w) + 'px';
      if (shown < column - 1) content.style.gridTemplateColumns = shown + 'px minmax(0, 1fr)';
      return;
    }
    const rows = new Set(Array.from(blocks).map(function (img) {
      return img.parentElement.classList.contains('picture-row') ? img.parentElement : img;
    }));
    const share = state.paged ? 0.6 : Math.max(0.22, (hasText ? state.pictureShare : 0.95) / rows.size);
    for (const row of rows) {
      // A row's pictures share one height, their widths filling the column together: equal
      // tiles when their shapes are equal, aligned top and bottom when not.
      if (row.tagName === 'IMG') {
        const w = Number(row.dataset.width), h = Number(row.dataset.height);
        // A picture page of a set: as large as the card allows beside its caption line.
        const page = row.parentElement.classList.contains('picture-page');
        const caption = page && Boolean(row.parentElement.textContent.trim());
        const shown = Math.min(width, page ? 2 * w : w, frameHeight * (page ? (caption ? 0.8 : 0.96) : share) * w / h);
        row.style.width = Math.floor(shown) + 'px';
        row.style.height = Math.floor(shown * h / w) + 'px';
        continue;
      }
      const imgs = Array.from(row.querySelectorAll('img.picture-block'));
      const gap = parseFloat(getComputedStyle(row).columnGap) || 0;
      const aspects = imgs.map(function (img) { return Number(img.dataset.width) / Number(img.dataset.height); });
      const across = aspects.reduce(function (a, b) { return a + b; }, 0);
      const native = Math.min.apply(null, imgs.map(function (img) { return Number(img.dataset.height); }));
      const height = Math.min((width - gap * (imgs.length - 1)) / across, native, frameHeight * share);
      imgs.forEach(function (img, i) {
        img.style.width = Math.floor(height * aspects[i]) + 'px';
        img.style.height = Math.floor(height) + 'px';
      });
    }
  }
  function isPictureHero(content) {
    const pictures = content.querySelectorAll('img.picture-block');
    if (pictures.length !== 1 || content.children.length > 2) return false;
    if (content.firstElementChild !== pictures[0].parentElement || content.firstElementChild.tagName !== 'P') return false;
    if (content.querySelector('img.picture-inline, .image-alt, pre, table, ul, ol, .formula, .formula-source')) return false;
    return content.textContent.trim().length <= 140;
  }
  // A note that is a picture and at most a short line: the picture fills the safe area above
  // the line (up to twice its own pixels), the line set at a calm size under it.
  function layOutPictureHero(c) {
    const frame = c.frame, content = c.content;
    const img = content.querySelector('img.picture-block');
    const w = Number(img.dataset.width), h = Number(img.dataset.height);
    const size = Math.max(Math.ceil(c.min), Math.round(c.min * 1.25));
    content.style.fontSize = size + 'px';
    img.style.width = '0px';
    img.style.height = '0px';
    const room = frame.clientHeight - content.scrollHeight;
    const shown = Math.max(1, Math.min(content.clientWidth, 2 * w, room * w / h));
    img.style.width = Math.floor(shown) + 'px';
    img.style.height = Math.floor(shown * h / w) + 'px';
    return size;
  }

  // A table whose columns are wider than the card even with every cell wrapped between words
  // (each column as wide as its longest word), with the body at its floor: the table scales
  // down as a whole to the table minimum, and past that shows the columns that fit and says
  // how many more there are. A word in a cell never breaks; a code with figures breaks at its
  // hyphen only where the table needs it to show its columns.
  function fitTableAtFloor(table, px, room) {
    const needed = table.offsetWidth;
    if (needed <= room + 0.5) return;
    px = Math.max(state.tableMin, Math.floor(px * room / needed * 100) / 100);
    table.style.fontSize = px + 'px';
    // Codes kept whole in cells ("PAY-311") may break at their hyphens before a column is left
    // out; options stay whole.
    if (table.offsetWidth > room + 0.5 && !table.dataset.codesReleased) {
      table.dataset.codesReleased = 'true';
      for (const span of table.querySelectorAll('td .nobr, th .nobr'))
        if (!/^(-|\u2013)/.test(span.textContent)) span.replaceWith(...span.childNodes);
    }
    const columns = table.rows[0] ? table.rows[0].cells.length : 0;
    let shown = columns;
    while (table.offsetWidth > room + 0.5 && shown > 1) {
      shown--;
      for (const row of table.rows) if (row.cells[shown]) row.cells[shown].classList.add('column-hidden');
    }
    if (shown === columns) return;
    const more = columns - shown;
    const caption = table.createCaption();
    caption.className = 'more-columns';
    caption.textContent = '+ ' + more + (more === 1 ? ' more column' : ' more columns');
    table.dataset.hiddenColumns = String(more);
  }
  function showAllColumns(table) {
    if (!table.dataset.hiddenColumns) return;
    for (const cell of table.querySelectorAll('.column-hidden')) cell.classList.remove('column-hidden');
    table.deleteCaption();
    delete table.dataset.hiddenColumns;
  }
  function fits(frame, content) {
    if (content.scrollHeight > frame.clientHeight + 0.5 || content.scrollWidth > content.clientWidth + 0.5) return false;
    // In columns a word wider than its column runs into the next one, inside the content's box.
    if (!content.classList.contains('columns')) return true;
    for (const el of content.querySelectorAll(Text.TEXT_BLOCKS)) if (el.scrollWidth > el.clientWidth + 0.5) return false;
    return true;
  }
  function fitsAt(frame, content, size, floor) {
    content.style.fontSize = size + 'px';
    fitWideBlocks(content, size, floor);
    return fits(frame, content);
  }

  // The largest whole-pixel size in [min, max] at which the note fits, or min; the first
  // guess comes from the area the note takes at max.
  function fittedSize(frame, content, min, max, floor) {
    max = Math.max(Math.floor(max), Math.ceil(min));
    min = Math.ceil(min);
    return largestPassing(min, max, function (size) { return fitsAt(frame, content, size, floor); }, function () {
      const needed = Math.max(content.scrollHeight, 1), room = frame.clientHeight;
      const widthRatio = content.clientWidth / Math.max(content.scrollWidth, 1);
      return Math.max(min, Math.min(max - 1, Math.floor(max * Math.min(Math.sqrt(room / needed), widthRatio))));
    });
  }

  // A word wider than its line even at the smallest size may break, with a visible hyphen:
  // soft hyphens between its characters.
  function hyphenateOverlongWords(content) {
    let changed = false;
    const range = document.createRange();
    for (const node of Text.textNodes(content)) {
      if (node.parentElement.closest('table')) continue;  // a table's words stay whole
      const limit = (node.parentElement.closest(Text.TEXT_BLOCKS + ', pre') || content).clientWidth;
      let text = node.data, shift = 0;
      for (const w of Text.words(node.data)) {
        if (!w.isWordLike || w.segment.length < 8) continue;
        range.setStart(node, w.index);
        range.setEnd(node, w.index + w.segment.length);
        if (range.getBoundingClientRect().width <= limit) continue;
        const broken = Array.from(w.segment).join('\u00ad');
        text = text.slice(0, w.index + shift) + broken + text.slice(w.index + shift + w.segment.length);
        shift += broken.length - w.segment.length;
      }
      if (shift) { node.data = text; changed = true; }
    }
    return changed;
  }
  // Line boxes of the note's text and inline boxes, in page coordinates.
  function lineRects(content) {
    const rects = [];
    const range = document.createRange();
    for (const node of Text.textNodes(content)) {
      range.selectNodeContents(node);
      for (const r of range.getClientRects()) if (r.height > 0) rects.push(r);
    }
    for (const el of content.querySelectorAll('.task-box, .image-alt, hr, .code-line, img.picture, .formula-display'))
      for (const r of el.getClientRects()) if (r.height > 0) rects.push(r);
    return rects;
  }
  // Shows whole lines only: the note ends above the first line that does not fit.
  function cutAfterWholeLine(frame, content) {
    const limit = frame.getBoundingClientRect().bottom + 0.5;
    const top = content.getBoundingClientRect().top;
    let cut = Infinity;
    for (const r of lineRects(content)) if (r.bottom > limit) cut = Math.min(cut, r.top);
    if (cut !== Infinity) content.style.maxHeight = Math.max(0, Math.floor(cut - top)) + 'px';
  }
  function isHero(content) {
    if (content.children.length !== 1) return false;
    const only = content.firstElementChild;
    if (!/^(P|H[1-6])$/.test(only.tagName)) return false;
    if (only.querySelector('code, .image-alt, .task-box, img.picture, .formula, .formula-source')) return false;
    return only.textContent.length <= 160;
  }
  // A note that is a display formula (under a heading, at most): the formula is its hero.
  function isFormulaHero(content) {
    const children = Array.from(content.children);
    const formulas = children.filter(function (el) { return el.matches('.formula-display, p:has(> .formula-display:only-child)'); });
    return formulas.length === 1 && children.length <= 2 &&
           children.every(function (el) { return formulas.indexOf(el) >= 0 || /^H[1-6]$/.test(el.tagName); });
  }
  // Prose and lists that can flow from one column into the next.
  function flows(content) {
    return !content.querySelector('table, pre, .formula-display') && !isHero(content) &&
           !content.classList.contains('picture-beside');
  }
  // A wide card with one picture (alone on its line) and text: the picture stands beside the
  // text, not in a narrow column above it.
  function placePictureBeside(c) {
    const content = c.content, pictures = content.querySelectorAll('img.picture-block');
    const beside = c.landscape && pictures.length === 1 && !state.paged && !content.classList.contains('hero-picture') &&
                   pictures[0].parentElement.parentElement === content && !pictures[0].parentElement.textContent.trim() &&
                   content.children.length > 1 && !content.querySelector('table, pre');
    content.classList.toggle('picture-beside', beside);
  }

  // A headline never leaves a short word alone on a line, when a size at most a quarter
  // smaller does that. Verse keeps its typed lines whole: it is set at the largest size at
  // which none wraps, if that is above the smallest size (a size that depends only on the
  // card's width, so a larger scale never sets it smaller).
  function keepLinesWhole(c, size) {
    const frame = c.frame, content = c.content, min = Math.ceil(c.min);
    if (content.classList.contains('hero')) {
      if (content.classList.contains('hero-single') || content.classList.contains('hero-lines') ||
          !Lines.hasLoneShortWord(content)) return size;
      // Smaller sizes from the top down, in steps of 2 %: lines that read well at one size can
      // read badly at the next smaller one again, so the first size that reads well is taken.
      const step = Math.max(1, Math.round(size / 50));
      for (let s = size - step; s >= Math.max(min, Math.floor(size * 0.75)); s -= step) {
        if (fitsAt(frame, content, s, min) && !Lines.hasLoneShortWord(content)) return s;
      }
    } else {
      const verses = Lines.verses(content);
      if (!verses.length || !Lines.versesWrap(verses)) return size;
      const whole = function (s) { return fitsAt(frame, content, s, min) && !Lines.versesWrap(verses); };
      if (size > min && whole(min)) size = largestPassing(min, size - 1, whole);
    }
    fitsAt(frame, content, size, min);
    return size;
  }

  // Typed lines longer than a verse's: characters of the longest.
  const VERSE_LINE = 40;
  // Typed lines stay whole while that keeps at least this share of the size wrapping allows.
  const KEEP_LINES_SHARE = 0.7;
  function hangTypedLines(content) {
    for (const p of content.querySelectorAll(':scope > p')) {
      // Two lines (a sentence and its link) read apart without it.
      if (p.querySelectorAll(':scope > br').length < 2) continue;
      const lines = [[]];
      for (const node of Array.from(p.childNodes)) {
        if (node.nodeName === 'BR') lines.push([]);
        else lines[lines.length - 1].push(node);
      }
      p.textContent = '';
      for (const nodes of lines) {
        const line = document.createElement('span');
        line.className = 'typed-line';
        line.append(...nodes);
        p.appendChild(line);
      }
    }
  }
  function longestTypedLine(content) {
    return content.innerText.split('\n').reduce(function (n, line) { return Math.max(n, line.trim().length); }, 0);
  }

  // Typed lines stay whole where they can: when even the smallest size cannot hold one of
  // them on a line, they wrap like any text. Returns the size.
  function settleTypedLines(c, size) {
    const frame = c.frame, content = c.content, min = c.min, max = c.max;
    if (!content.classList.contains('hero-lines')) return size;
    if (!fitsAt(frame, content, size, min)) {
      content.classList.remove('hero-lines');
      return fittedSize(frame, content, min, max, min);
    }
    if (longestTypedLine(content) <= VERSE_LINE) return size;
    // A long typed line is a sentence, not a verse: it may wrap like prose when keeping it
    // whole would leave the card mostly empty (the text well under what wrapping allows).
    content.classList.remove('hero-lines');
    const wrapped = fittedSize(frame, content, min, max, min);
    if (size >= wrapped * KEEP_LINES_SHARE) {
      content.classList.add('hero-lines');
      fitsAt(frame, content, size, min);
      return size;
    }
    // Each typed line still reads as one: what wraps hangs under its start.
    hangTypedLines(content);
    return fittedSize(frame, content, min, max, min);
  }

  // Pictures give way before the text does: a note whose text would be set near its floor
  // (or cut) takes its pictures smaller, down to about a third of the card. Returns the size.
  function givePicturesWay(c, size) {
    const frame = c.frame, content = c.content, min = c.min, max = c.max;
    if (!content.querySelector('img.picture-block') || size >= min * NEAR_FLOOR) return size;
    let best = { share: state.pictureShare, size: size, fits: fitsAt(frame, content, size, min) };
    for (const share of PICTURE_SHARES_GIVEN) {
      state.pictureShare = share;
      const s = fittedSize(frame, content, min, max, min);
      const fitsHere = fitsAt(frame, content, s, min);
      if ((fitsHere && !best.fits) || (fitsHere === best.fits && s > best.size)) best = { share: share, size: s, fits: fitsHere };
      if (fitsHere && s >= min * NEAR_FLOOR) break;
    }
    state.pictureShare = best.share;
    fitsAt(frame, content, best.size, min);
    return best.size;
  }

  // Lines of code that must wrap break between names, never inside one: the largest size at
  // which no name splits (or no more than at the floor, where a name is wider than a line).
  function sizeKeepingNamesWhole(c, size) {
    const frame = c.frame, content = c.content, min = c.min;
    fitsAt(frame, content, size, min);
    if (!Lines.brokenCodeTokens(content) || size <= Math.ceil(min)) return size;
    fitsAt(frame, content, Math.ceil(min), min);
    const least = Lines.brokenCodeTokens(content);
    const namesWhole = function (s) { return fitsAt(frame, content, s, min) && Lines.brokenCodeTokens(content) <= least; };
    return largestPassing(Math.ceil(min), size - 1, namesWhole);
  }
  // A note that is code (and headings) keeps its lines whole where a smaller size above the
  // floor can, unless that takes the code much smaller than wrapping between names would; a
  // one-line command reads better on two lines of a larger size (see shrinkOneLiner).
  function sizeKeepingCodeLinesWhole(c, namesSize) {
    const frame = c.frame, content = c.content, min = c.min;
    const whole = function (s) { return fitsAt(frame, content, s, min) && !content.querySelector('pre.wrapped'); };
    const oneLiner = content.querySelectorAll('pre .code-line').length === 1;
    if (oneLiner || namesSize <= Math.ceil(min) || !whole(Math.ceil(min))) return namesSize;
    const wholeSize = largestPassing(Math.ceil(min), namesSize - 1, whole);
    return wholeSize >= WHOLE_CODE_SHARE * namesSize ? wholeSize : namesSize;
  }
  // Beside prose, code that had to go down to the floor keeps the prose within reach: a
  // lead-in twice the size of its command reads as a headline over a footnote.
  function sizeNearCode(c, size) {
    const frame = c.frame, content = c.content, min = c.min;
    const code = Math.min.apply(null, Array.from(content.querySelectorAll('pre')).map(function (pre) {
      return parseFloat(pre.style.fontSize) || size;
    }));
    const reach = Math.max(Math.ceil(min), Math.ceil(code / CODE_LEAST_SHARE));
    if (reach >= size) return size;
    fitsAt(frame, content, reach, min);
    return reach;
  }
  // Code that wraps: between names, never inside one, and whole lines where they can be.
  // Returns the size.
  function fitWrappedCode(c, size) {
    const content = c.content;
    if (!content.querySelector('pre.wrapped')) return size;
    const codeOnly = !content.querySelector('p, li, td, th');
    size = sizeKeepingNamesWhole(c, size);
    if (codeOnly) size = sizeKeepingCodeLinesWhole(c, size);
    fitsAt(c.frame, content, size, c.min);
    return codeOnly ? size : sizeNearCode(c, size);
  }

  // Landscape lines stay near 75 characters: prose and lists that would run longer lines, or
  // would not fit in one column, flow into two columns before the text shrinks toward the
  // minimum (and are cut there in columns). The columns stay only where they do better.
  // Returns the size.
  function flowIntoColumns(c, size) {
    const frame = c.frame, content = c.content, min = c.min, max = c.max;
    if (!(c.landscape && flows(content) &&
          (content.clientWidth / (size * 0.5) > 75 || !fitsAt(frame, content, size, min)))) return size;
    const oneColumn = size, oneColumnFits = fitsAt(frame, content, size, min);
    content.classList.add('columns');
    size = fittedSize(frame, content, min, max, min);
    if (oneColumnFits && size < oneColumn) {
      content.classList.remove('columns');
      size = oneColumn;
    }
    return size;
  }

  // The last resorts and the finish: only a word wider than its line at the smallest size
  // may break; pictures take the room the text leaves; what does not fit is cut.
  function finishCard(c, size) {
    const frame = c.frame, content = c.content, min = c.min, max = c.max;
    // Hyphenated, an overlong word lets the rest of the note be set larger again.
    if (!fitsAt(frame, content, size, min) && size <= Math.ceil(min) && hyphenateOverlongWords(content))
      size = fittedSize(frame, content, min, max, min);
    // A run of letters split over many inline elements has no word to hyphenate: as a
    // last resort it breaks anywhere rather than running off the card.
    if (!fitsAt(frame, content, size, min) && content.scrollWidth > content.clientWidth + 0.5) {
      content.classList.add('break-anywhere');
    }
    growPictures(frame, content, size, min);
    alignColumnTops(content);
    // A note that was only partly laid out is cut, whatever of it fits.
    if (c.truncated || !fitsAt(frame, content, size, min)) {
      state.cut = true;
      content.classList.add('cut');
      // Columns break between lines already: the second one simply stops at the bottom.
      if (!content.classList.contains('columns')) cutAfterWholeLine(frame, content);
      document.getElementById('continues').hidden = false;
    }
    void content.offsetHeight;  // finish layout before the snapshot
  }

  // One card: `c` is what the page prepared (frame, content, text size range, orientation).
  function layOutCard(c) {
    const content = c.content;
    state.tableMin = c.tableMin;
    state.formulaMin = c.formulaMin;
    if (content.classList.contains('hero-picture')) {
      layOutPictureHero(c);
      void content.offsetHeight;
      return;
    }
    placePictureBeside(c);
    let size = fittedSize(c.frame, content, c.min, c.max, c.min);
    size = settleTypedLines(c, size);
    size = keepLinesWhole(c, size);
    size = givePicturesWay(c, size);
    size = fitWrappedCode(c, size);
    size = flowIntoColumns(c, size);
    finishCard(c, size);
  }

  // With little text a picture takes the room the text leaves, up to 70 % of the card's
  // height, the text at the size it has: the largest share that still fits, in steps.
  const MOST_PICTURE_SHARE = 0.7;
  function growPictures(frame, content, size, min) {
    if (state.paged || !content.querySelector('img.picture-block') || content.classList.contains('picture-beside') ||
        content.classList.contains('hero-picture') || !fitsAt(frame, content, size, min) ||
        frame.clientHeight - content.scrollHeight < 0.08 * frame.clientHeight) return;
    const start = state.pictureShare;
    let lo = start, hi = MOST_PICTURE_SHARE;
    for (let step = 0; step < 6; step++) {
      state.pictureShare = (lo + hi) / 2;
      if (fitsAt(frame, content, size, min)) lo = state.pictureShare; else hi = state.pictureShare;
    }
    state.pictureShare = lo;
    fitsAt(frame, content, size, min);
  }

  // What starts the second column starts at its top, level with the first column: the margins
  // between it and the block that ends the first column (carried over the break) go.
  function alignColumnTops(content) {
    if (!content.classList.contains('columns')) return;
    const box = content.getBoundingClientRect();
    const blocks = Array.from(content.children);
    const inSecond = function (rect) { return rect.left > box.left + box.width / 3; };
    const second = blocks.findIndex(function (el) { return inSecond(el.getBoundingClientRect()); });
    if (second <= 0) return;
    // (A paragraph that runs on into the second column starts it: nothing to align.)
    const range = document.createRange();
    range.selectNodeContents(blocks[second - 1]);
    const endsFirst = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0 && r.height > 0; });
    if (!endsFirst.length) return;
    if (endsFirst.some(inSecond)) return;
    blocks[second - 1].classList.add('column-end');
    blocks[second].classList.add('column-top');
  }

  // A long picture: the note at a comfortable reading size on a card as tall as it needs,
  // from a square up to `cap`. A note that a square holds at that size or larger is a square
  // card, fitted as usual; past the cap the note is cut. Returns the card's height.
  function layOutLong(c, card, width, cap, reading) {
    const frame = c.frame, content = c.content;
    card.style.height = width + 'px';
    layOutCard(c);
    if (!state.cut && parseFloat(content.style.fontSize) >= reading) return width;
    state.cut = false;
    content.classList.remove('cut', 'columns');
    content.style.maxHeight = '';
    document.getElementById('continues').hidden = true;
    card.style.height = cap + 'px';
    // Nothing may run past the edge: a word wider than its line breaks with a hyphen, and what
    // is still too wide (a table's columns) takes the text a step smaller, down to the floor.
    const min = Math.ceil(c.min);
    let size = Math.max(min, Math.round(reading));
    const tooWide = function () {
      fitsAt(frame, content, size, min);
      // A table too wide for the reading size gives up its own size first, down to a table's
      // floor: the note keeps the size it is read at.
      // Its cells wrap only where the table's floor cannot hold them whole.
      for (const table of content.querySelectorAll('table')) {
        const room = Math.min(content.clientWidth, table.parentElement.clientWidth);
        if (!table.classList.contains('wrapped') && table.offsetWidth <= room + 0.5) continue;
        table.classList.remove('wrapped');
        const px = parseFloat(getComputedStyle(table).fontSize), needed = table.offsetWidth;
        table.style.fontSize = Math.max(state.tableMin, Math.min(px, Math.floor(px * room / needed * 100) / 100)) + 'px';
        if (table.offsetWidth > room + 0.5) table.classList.add('wrapped');
      }
      if (content.scrollWidth > content.clientWidth + 0.5) return true;
      for (const el of content.querySelectorAll(Text.TEXT_BLOCKS + ', table, pre'))
        if (el.scrollWidth > el.clientWidth + 0.5 || el.offsetWidth > content.clientWidth + 0.5) return true;
      return false;
    };
    if (tooWide() && hyphenateOverlongWords(content)) tooWide();
    while (size > min && tooWide()) size--;
    const around = cap - frame.clientHeight;
    const height = Math.min(cap, Math.max(width, Math.ceil(content.scrollHeight + around)));
    card.style.height = height + 'px';
    // What is too wide even at the floor (a table of many columns) is a square's to show.
    if (content.scrollWidth > content.clientWidth + 0.5 && height === width) {
      layOutCard(c);
      return width;
    }
    if (!fits(frame, content)) {
      state.cut = true;
      content.classList.add('cut');
      cutAfterWholeLine(frame, content);
      document.getElementById('continues').hidden = false;
    }
    void content.offsetHeight;
    return height;
  }

  // Forgets the last layout's cut and set (a new card is being prepared).
  function reset() {
    state.cut = false;
    state.paged = null;
    state.pictureShare = PICTURE_SHARE;
  }

  root.CarderFit = { state: state, reset: reset, isHero: isHero, isPictureHero: isPictureHero, layOutCard: layOutCard,
                     isFormulaHero: isFormulaHero,
                     layOutLong: layOutLong,
                     largestPassing: largestPassing,
                     fitWideBlocks: fitWideBlocks, hyphenateOverlongWords: hyphenateOverlongWords };
})(this);
