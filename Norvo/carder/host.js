// The card page. Two entry points, both of which lay out the finished card in the top-left
// width x height rectangle before they return:
//   window.tazuCard(markdown, theme, width, height, wordmark, scale): one card.
//   window.tazuCardDraw(options): the same six settings as one object, and beyond them
//     pages: true      the note as a set of same-size cards, the first shown;
//     showPage: n      only show card n of the set laid out last (no other settings);
//     report: true     measure the finished layout;
//     plainLayout: true  plain line breaking (the engine's fallback after a page died).
//   It returns {pages: <cards in the set, 1 for one card>, report: <measurements> or null}.
(function () {
  'use strict';

  const THEMES = ['paper', 'ink', 'sky'];
  const SVG = 'http://www.w3.org/2000/svg';

  // --- Markdown -----------------------------------------------------------------------

  function highlighted(code, language) {
    const hl = window.hljs;
    // The fence names the language; without one the code is shown plain, never guessed.
    if (!hl || !language || !hl.getLanguage(language)) return null;
    try {
      return hl.highlight(language, code, true).value;  // highlight.js 9: (language, code, ignoreIllegals)
    } catch (e) {
      return null;
    }
  }

  const md = window.markdownit({ html: false, linkify: false, typographer: true, breaks: false });

  // Images are never fetched: a card shows their description instead.
  md.renderer.rules.image = function (tokens, idx, options, env, self) {
    const alt = self.renderInlineAsText(tokens[idx].children, options, env);
    return '<span class="image-alt"><span class="image-icon"></span>' + md.utils.escapeHtml(alt || 'image') + '</span>';
  };
  // Links keep their look but lose their address: a card is a picture.
  md.renderer.rules.link_open = function () { return '<a class="link">'; };

  // Code blocks: one element per source line, so a wrapped line can hang under its own
  // indentation instead of restarting at the left edge.
  md.renderer.rules.fence = function (tokens, idx) {
    const token = tokens[idx];
    const language = (token.info || '').trim().split(/\s+/)[0].toLowerCase();
    const code = token.content.replace(/\n$/, '');
    const html = highlighted(code, language);
    return '<pre class="code" dir="ltr"><code>' + codeLines(code, html) + '</code></pre>';
  };
  md.renderer.rules.code_block = function (tokens, idx) {
    const code = tokens[idx].content.replace(/\n$/, '');
    return '<pre class="code" dir="ltr"><code>' + codeLines(code, null) + '</code></pre>';
  };

  function indentOf(line) {
    let columns = 0;
    for (const c of line) {
      if (c === ' ') columns += 1;
      else if (c === '\t') columns += 4 - (columns % 4);
      else break;
    }
    return columns;
  }

  // Splits highlighted HTML at line feeds, closing and reopening the spans a line is in,
  // and drops each line's leading white space (its indentation becomes a style).
  function codeLines(code, html) {
    const raw = code.split('\n');
    const parts = html === null ? [md.utils.escapeHtml(code)] : html.split(/(<span[^>]*>|<\/span>)/);
    const lines = [];
    let open = [], line = '', started = false;
    const startLine = function () { line = open.join(''); started = false; };
    const endLine = function () { lines.push(line + '</span>'.repeat(open.length)); };
    startLine();
    for (const part of parts) {
      if (part.startsWith('<span')) { open.push(part); line += part; continue; }
      if (part === '</span>') { open.pop(); line += part; continue; }
      const pieces = part.split('\n');
      pieces.forEach(function (piece, i) {
        if (i > 0) { endLine(); startLine(); }
        if (!started) {
          const trimmed = piece.replace(/^[ \t]+/, '');
          if (trimmed.length) started = true;
          piece = trimmed;
        }
        line += piece;
      });
    }
    endLine();
    return lines.map(function (l, i) {
      const indent = indentOf(raw[i] || '');
      return '<span class="code-line" style="--indent:' + indent + 'ch">' + (l || '\u200b') + '</span>';
    }).join('');
  }

  // "- [ ] task" and "- [x] done" become check boxes.
  md.core.ruler.after('inline', 'task-lists', function (state) {
    const tokens = state.tokens;
    for (let i = 2; i < tokens.length; i++) {
      const inline = tokens[i];
      if (inline.type !== 'inline' || tokens[i - 1].type !== 'paragraph_open' ||
          tokens[i - 2].type !== 'list_item_open') continue;
      const first = inline.children && inline.children[0];
      const match = first && first.type === 'text' && /^\[([ xX])\]\s+/.exec(first.content);
      if (!match) continue;
      first.content = first.content.slice(match[0].length);
      const box = new state.Token('html_inline', '', 0);
      const done = match[1] !== ' ';
      box.content = '<span class="task-box' + (done ? ' task-done' : '') + '" aria-hidden="true"></span>';
      inline.children.unshift(box);
      tokens[i - 2].attrJoin('class', 'task' + (done ? ' task-item-done' : ''));
    }
  });

  function isBlank(c) { return c === ' ' || c === '\t'; }
  function trimBlank(line) {
    let a = 0, b = line.length;
    while (a < b && isBlank(line[a])) a++;
    while (b > a && isBlank(line[b - 1])) b--;
    return line.slice(a, b);
  }

  // The card never shows front matter: a "---" first line (after a byte-order mark, with
  // either line ending) up to its closing "---".
  function withoutFrontMatter(text) {
    text = text.replace(/^\uFEFF/, '');
    const lines = text.split(/\r?\n/);
    if (trimBlank(lines[0]) !== '---') return text;
    for (let i = 1; i < lines.length; i++) {
      if (trimBlank(lines[i]) === '---') return lines.slice(i + 1).join('\n');
    }
    return text;
  }

  // --- Icons ---------------------------------------------------------------------------

  function svg(viewBox, paths, className) {
    const s = document.createElementNS(SVG, 'svg');
    s.setAttribute('viewBox', viewBox);
    s.setAttribute('class', className);
    s.setAttribute('aria-hidden', 'true');
    for (const d of paths) {
      const p = document.createElementNS(SVG, 'path');
      p.setAttribute('d', d);
      s.appendChild(p);
    }
    return s;
  }

  function addIcons(content) {
    for (const box of content.querySelectorAll('.task-box.task-done'))
      box.appendChild(svg('0 0 16 16', ['M3.6 8.4 6.7 11.4 12.6 4.8'], 'task-tick'));
    for (const icon of content.querySelectorAll('.image-icon'))
      icon.appendChild(svg('0 0 24 24', ['M4 5h16v14H4z', 'M4 16l5-5 4 4 3-3 4 4', 'M15.5 9.5h.01'], 'image-svg'));
  }

  // --- Scripts and directions -----------------------------------------------------------

  const KANA = /[\u3040-\u30ff\u31f0-\u31ff\uff66-\uff9f]/;
  const HANGUL = /[\u1100-\u11ff\u3130-\u318f\uac00-\ud7af]/;
  const HAN = /[\u3400-\u9fff\uf900-\ufaff]/;
  const BLOCKS = 'p, h1, h2, h3, h4, h5, h6, li, blockquote, ul, ol, th, td, table';

  // Right-to-left paragraphs read right to left; East Asian text gets its language so the
  // fonts use its own glyph forms (and Korean keeps its words whole).
  function markScripts(content) {
    for (const block of content.querySelectorAll(BLOCKS)) {
      block.setAttribute('dir', 'auto');
      if (/^(UL|OL|TABLE|BLOCKQUOTE)$/.test(block.tagName)) continue;
      const text = block.textContent;
      if (KANA.test(text)) block.setAttribute('lang', 'ja');
      else if (HANGUL.test(text)) block.setAttribute('lang', 'ko');
      else if (HAN.test(text)) block.setAttribute('lang', 'zh');
    }
  }

  // --- Blocks ----------------------------------------------------------------------------

  // A paragraph, list item or typed line never ends on a lone short word: its last two
  // words are joined by a no-break space, so they wrap together.
  const LAST_TWO_WORDS = /(\S+)[ \t\n]+(\S{1,8})[ \t\n]*$/;
  function joinLastTwoWords(node) {
    const match = LAST_TWO_WORDS.exec(node.data);
    if (!match || match[1].length + match[2].length > 18) return;
    const trailing = match[0].length - match[0].trimEnd().length;
    node.data = node.data.slice(0, match.index) + match[1] + '\u00a0' + match[2] +
                node.data.slice(node.data.length - trailing);
  }
  function endsLine(node) {
    let next = node.nextSibling;
    while (next && next.nodeType === Node.TEXT_NODE && !next.data.trim()) next = next.nextSibling;
    return next && next.nodeName === 'BR';
  }
  function keepLastWordsTogether(content) {
    for (const block of content.querySelectorAll('p, li')) {
      const own = textNodes(block).filter(function (n) {
        return n.parentElement.closest('p, li') === block && !n.parentElement.closest('code, pre, .image-alt');
      });
      own.forEach(function (node, i) {
        if (i === own.length - 1 || endsLine(node)) joinLastTwoWords(node);
      });
    }
  }


  // Ordered-list numbers stand in the list's padding: room for the widest one.
  function sizeListNumbers(content) {
    for (const ol of content.querySelectorAll('ol')) {
      const start = parseInt(ol.getAttribute('start') || '1', 10) || 1;
      const widest = String(Math.max(Math.abs(start), Math.abs(start + ol.children.length - 1))).length +
                     (start < 0 ? 1 : 0);
      ol.style.paddingInlineStart = (0.66 * widest + 0.95).toFixed(2) + 'em';
    }
  }

  const NUMERIC = /^[+\-\u2212\u00b1~\u2248$\u20ac\u00a3\u00a5]?\s?\d[\d.,\u202f\u00a0 ]*(\s?(%|\u2030|[A-Za-z\u00b5]{1,4}|\u00d7))?$/;
  const NOTHING = /^[-\u2013\u2014\u2212\u00b7]?$/;

  // A column whose cells are all numbers (or empty) aligns right with tabular figures.
  function markNumericColumns(content) {
    for (const table of content.querySelectorAll('table')) {
      const rows = Array.from(table.rows);
      const columns = rows.reduce(function (n, r) { return Math.max(n, r.cells.length); }, 0);
      for (let c = 0; c < columns; c++) {
        let numbers = 0, others = 0;
        for (const row of rows) {
          const cell = row.cells[c];
          if (!cell || cell.tagName === 'TH') continue;
          const text = cell.textContent.trim();
          if (NUMERIC.test(text)) numbers++;
          else if (!NOTHING.test(text)) others++;
        }
        if (!numbers || others) continue;
        for (const row of rows) if (row.cells[c]) row.cells[c].classList.add('numeric');
      }
    }
  }

  // Tables and code blocks first give up their own text size to fit the width, down to
  // `floor`; past that, tables wrap their cells at word boundaries and code wraps its long
  // lines under their indentation.
  function fitWideBlocks(content, bodyPx, floor) {
    const width = content.clientWidth;
    for (const block of content.querySelectorAll('table, pre')) {
      const own = block.tagName === 'TABLE' ? 0.9 : 0.86;
      block.classList.remove('wrapped');
      let px = bodyPx * own;
      block.style.fontSize = px + 'px';
      const wide = block.tagName === 'TABLE' ? block.offsetWidth : block.scrollWidth;
      if (wide <= width + 0.5) continue;
      const least = Math.min(px, floor);
      px = Math.max(least, Math.floor(px * width / wide * 100) / 100);
      block.style.fontSize = px + 'px';
      const still = block.tagName === 'TABLE' ? block.offsetWidth : block.scrollWidth;
      if (still > width + 0.5) block.classList.add('wrapped');
    }
  }

  // --- Fitting ---------------------------------------------------------------------------

  const state = { cut: false, paged: null };

  function fits(frame, content) {
    return content.scrollHeight <= frame.clientHeight + 0.5 && content.scrollWidth <= content.clientWidth + 0.5;
  }

  function fitsAt(frame, content, size, floor) {
    content.style.fontSize = size + 'px';
    fitWideBlocks(content, size, floor);
    return fits(frame, content);
  }

  // The largest whole-pixel size in [min, max] at which the note fits, or min. Whole pixels
  // keep the engine's font caches warm while the user types; an area-based first guess
  // means only a few layouts are needed.
  function fittedSize(frame, content, min, max, floor) {
    max = Math.max(Math.floor(max), Math.ceil(min));
    min = Math.ceil(min);
    if (fitsAt(frame, content, max, floor)) return max;
    const needed = Math.max(content.scrollHeight, 1), room = frame.clientHeight;
    const widthRatio = content.clientWidth / Math.max(content.scrollWidth, 1);
    let size = Math.max(min, Math.min(max - 1, Math.floor(max * Math.min(Math.sqrt(room / needed), widthRatio))));
    if (fitsAt(frame, content, size, floor)) {
      while (size + 1 < max && fitsAt(frame, content, size + 1, floor)) size++;
      return size;
    }
    let lo = min, hi = size;  // lo may not fit either: then the note is cut at the minimum
    while (hi - lo > 1) {
      const mid = Math.floor((lo + hi) / 2);
      if (fitsAt(frame, content, mid, floor)) lo = mid; else hi = mid;
    }
    return lo;
  }

  function textNodes(root) {
    const out = [];
    const walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode()) if (n.data.trim()) out.push(n);
    return out;
  }

  let segmenter = null;
  function words(text) {
    if (!segmenter) segmenter = new Intl.Segmenter(undefined, { granularity: 'word' });
    return segmenter.segment(text);
  }

  // A word wider than its line even at the smallest size may break, with a visible hyphen:
  // soft hyphens between its characters.
  function hyphenateOverlongWords(content) {
    let changed = false;
    const range = document.createRange();
    for (const node of textNodes(content)) {
      const limit = (node.parentElement.closest('li, p, td, th, h1, h2, h3, h4, h5, h6, blockquote, pre') || content).clientWidth;
      let text = node.data, shift = 0;
      for (const w of words(node.data)) {
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
    for (const node of textNodes(content)) {
      range.selectNodeContents(node);
      for (const r of range.getClientRects()) if (r.height > 0) rects.push(r);
    }
    for (const el of content.querySelectorAll('.task-box, .image-alt, hr, .code-line'))
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
    if (only.querySelector('code, .image-alt, .task-box')) return false;
    return only.textContent.length <= 160;
  }

  function isLongFlow(content) {
    return content.textContent.length > 500 &&
           !content.querySelector('table, pre') && !isHero(content);
  }

  // Everything a card needs before it is fitted: its size, theme, backdrop and the note
  // rendered into the content. Returns what fitting needs.
  function prepare(markdown, theme, width, height, wordmark, scale) {
    const card = document.getElementById('card');
    const frame = card.querySelector('.card-frame');
    const content = document.getElementById('content');
    if (!(isFinite(scale) && scale > 0)) scale = 1;

    theme = THEMES.indexOf(theme) >= 0 ? theme : 'paper';
    card.className = 'card theme-' + theme;
    card.style.width = width + 'px';
    card.style.height = height + 'px';
    window.tazuBackdrop.show(card, theme, width, height);

    // One unit that grows with the card's area, so every preset looks alike.
    const unit = Math.sqrt(width * height) / 1080;
    const pad = Math.round(Math.min(width, height) * 0.09);
    const landscape = width > height;
    const story = height >= width * 1.7;
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
    state.cut = false;
    state.paged = null;
    frame.classList.remove('paged');
    content.className = 'content';
    content.style.maxHeight = '';
    content.style.transform = '';
    content.removeAttribute('lang');
    content.innerHTML = md.render(withoutFrontMatter(String(markdown)));
    addIcons(content);
    markScripts(content);
    keepLastWordsTogether(content);
    sizeListNumbers(content);
    markNumericColumns(content);

    const hero = isHero(content);
    content.classList.toggle('hero', hero);
    content.classList.toggle('hero-heading', hero && content.firstElementChild.tagName !== 'P');

    // The readable floor; the scale biases the whole search instead of the result.
    const floor = landscape ? 22 : 26;
    return { frame: frame, content: content, landscape: landscape, hero: hero, pad: pad,
             min: floor * scale, max: (hero ? 150 : 68) * unit * scale };
  }

  function drawCard(markdown, theme, width, height, wordmark, scale) {
    const c = prepare(markdown, theme, width, height, wordmark, scale);
    const frame = c.frame, content = c.content, min = c.min, max = c.max;
    let size = fittedSize(frame, content, min, max, min);

    // Landscape lines stay near 75 characters: long prose and long lists flow into two
    // columns before the text shrinks toward the minimum (and are cut there in columns).
    if (c.landscape && isLongFlow(content) && content.clientWidth / (size * 0.5) > 80) {
      content.classList.add('columns');
      size = fittedSize(frame, content, min, max, min);
    }

    // Only a word wider than its line at the smallest size may break: hyphenated, it lets
    // the rest of the note be set larger again.
    if (!fitsAt(frame, content, size, min) && size <= Math.ceil(min) && hyphenateOverlongWords(content))
      size = fittedSize(frame, content, min, max, min);
    // A run of letters split over many inline elements has no word to hyphenate: as a
    // last resort it breaks anywhere rather than running off the card.
    if (!fitsAt(frame, content, size, min) && content.scrollWidth > content.clientWidth + 0.5) {
      content.classList.add('break-anywhere');
    }
    if (!fitsAt(frame, content, size, min)) {
      state.cut = true;
      content.classList.add('cut');
      // Columns break between lines already: the second one simply stops at the bottom.
      if (!content.classList.contains('columns')) cutAfterWholeLine(frame, content);
      document.getElementById('continues').hidden = false;
    }
    void content.offsetHeight;  // finish layout before the snapshot
  }

  // --- Pages ---------------------------------------------------------------------------------

  const MAX_PAGES = 20;

  // The note as a set of same-size cards: one column per card, each as tall as the frame,
  // so the browser breaks between lines (never inside a word or a line of code).
  function pagesAt(frame, content, size, floor) {
    content.style.fontSize = size + 'px';
    fitWideBlocks(content, size, floor);
    const step = frame.clientWidth + state.paged.gap;
    return Math.max(1, Math.round((content.scrollWidth + state.paged.gap) / step));
  }

  // A word wider than its line makes the column wider than the card.
  function pageOverflows(frame, content) {
    for (const el of content.querySelectorAll('p, li, h1, h2, h3, h4, h5, h6, td, th, blockquote'))
      if (el.scrollWidth > el.clientWidth + 0.5) return true;
    return false;
  }

  // A table that continues on the next card repeats its header row there: the table is
  // split where a card begins, and the rest becomes a table of its own on the next card,
  // under a copy of the header.
  function repeatTableHeaders(frame, content) {
    // A row that does not fit the card's height is drawn at the top of the next card even
    // where its box still says otherwise.
    const limit = frame.getBoundingClientRect().bottom + 0.5;
    const range = document.createRange();
    const pending = Array.from(content.querySelectorAll('table'));
    for (let guard = 0; pending.length && guard < 4 * MAX_PAGES; guard++) {
      const table = pending.shift();
      const head = table.tHead && table.tHead.rows[0];
      const body = table.tBodies[0];
      if (!head || !body || body.rows.length < 2) continue;
      range.selectNodeContents(head);
      let previous = (range.getClientRects()[0] || head.getBoundingClientRect()).left, starts = null;
      for (const row of body.rows) {
        // Where the row's text is drawn tells its card; the row's own box may not.
        range.selectNodeContents(row);
        const box = range.getClientRects()[0] || row.getBoundingClientRect();
        const cell = row.cells[0];
        const rowBottom = box.top - (cell ? parseFloat(getComputedStyle(cell).paddingTop) : 0) + row.offsetHeight;
        // A row close to the bottom may still be moved on by the browser: split a little early
        // rather than leave a card holding one stray row.
        if (Math.abs(box.left - previous) > 1 || rowBottom > limit - 0.25 * row.offsetHeight) {
          starts = row;
          break;
        }
        previous = box.left;
      }
      if (!starts || starts === body.rows[0]) continue;
      const rest = table.cloneNode(false);
      rest.classList.add('continued');
      rest.appendChild(table.tHead.cloneNode(true));
      const restBody = document.createElement('tbody');
      while (starts) {
        const next = starts.nextElementSibling;
        restBody.appendChild(starts);
        starts = next;
      }
      rest.appendChild(restBody);
      table.after(rest);
      pending.push(rest);
    }
  }

  // Lays the note out as up to 20 cards with one text size for all of them, the largest
  // at which it takes no more cards than at the smallest size, and shows card `page`.
  // Returns the number of cards.
  function drawPages(markdown, theme, width, height, wordmark, scale, page) {
    const c = prepare(markdown, theme, width, height, wordmark, scale);
    const frame = c.frame, content = c.content, min = Math.ceil(c.min), max = Math.max(min, Math.floor(c.max));
    state.paged = { gap: c.pad * 2, pages: 1, page: 1, capped: false };
    frame.classList.add('paged');
    content.classList.add('paged');
    content.style.setProperty('--page-width', frame.clientWidth + 'px');
    content.style.setProperty('--page-gap', state.paged.gap + 'px');

    let fewest = pagesAt(frame, content, min, min);
    if (pageOverflows(frame, content) && hyphenateOverlongWords(content)) fewest = pagesAt(frame, content, min, min);
    let size = min;
    if (fewest <= MAX_PAGES) {
      let lo = min, hi = max;
      if (pagesAt(frame, content, hi, min) <= fewest && !pageOverflows(frame, content)) lo = hi;
      while (hi - lo > 1) {
        const mid = Math.floor((lo + hi) / 2);
        if (pagesAt(frame, content, mid, min) <= fewest && !pageOverflows(frame, content)) lo = mid; else hi = mid;
      }
      size = lo;
    }
    pagesAt(frame, content, size, min);
    repeatTableHeaders(frame, content);
    const pages = pagesAt(frame, content, size, min);
    state.paged.pages = Math.min(pages, MAX_PAGES);
    state.paged.capped = pages > MAX_PAGES;
    showPage(page);
    return state.paged.pages;
  }

  // Shows card `page` of the set laid out last (only moves it into view).
  function showPage(page) {
    const paged = state.paged;
    if (!paged) return 0;
    const frame = document.querySelector('.card-frame');
    const content = document.getElementById('content');
    const mark = document.getElementById('pagemark');
    paged.page = Math.max(1, Math.min(paged.pages, Math.round(page) || 1));
    content.style.transform = 'translateX(' + (-(paged.page - 1) * (frame.clientWidth + paged.gap)) + 'px)';
    mark.textContent = paged.page + '/' + paged.pages;
    mark.hidden = paged.pages < 2;
    state.cut = paged.capped && paged.page === paged.pages;
    document.getElementById('continues').hidden = !state.cut;
    void content.offsetHeight;
    return paged.pages;
  }

  // --- The layout report -------------------------------------------------------------------

  // What the finished layout measures, read from element boxes and text ranges.
  function layoutReport() {
    const frame = document.querySelector('.card-frame');
    const content = document.getElementById('content');
    const area = frame.getBoundingClientRect();
    const shown = content.getBoundingClientRect();
    const visibleBottom = Math.min(shown.bottom, area.bottom);
    const paged = state.paged;
    const nodes = textNodes(content).filter(function (n) {
      const r = n.parentElement.getBoundingClientRect();
      return r.top < visibleBottom && r.bottom > shown.top && (!paged || (r.left < area.right && r.right > area.left));
    });

    const body = content.querySelector('p, li, td, pre') || content;
    const bodyPx = parseFloat(getComputedStyle(body).fontSize);
    let minPx = Infinity;
    for (const n of nodes) minPx = Math.min(minPx, parseFloat(getComputedStyle(n.parentElement).fontSize));

    const columns = content.classList.contains('columns') || Boolean(paged);
    let overflowX = !columns && content.scrollWidth > content.clientWidth + 0.5;
    const range = document.createRange();
    let brokenWords = 0;
    for (const n of nodes) {
      range.selectNodeContents(n);
      for (const r of range.getClientRects()) {
        // Columns past the second are cut content, not overflow: only a box across an edge is.
        const across = (r.left < area.right - 1 && r.right > area.right + 1) || (r.left < area.left - 1 && r.right > area.left);
        if (r.top < visibleBottom && across) overflowX = true;
      }
      for (const w of words(n.data)) {
        if (!w.isWordLike || w.segment.indexOf('\u00ad') >= 0 || HAN.test(w.segment) || KANA.test(w.segment)) continue;
        range.setStart(n, w.index);
        range.setEnd(n, w.index + w.segment.length);
        const rects = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0; });
        if (rects.length < 2) continue;
        const tops = rects.map(function (r) { return r.top; });
        if (Math.max.apply(null, tops) - Math.min.apply(null, tops) > 2) brokenWords++;
      }
    }
    for (const el of content.querySelectorAll('table, pre, svg')) {
      const r = el.getBoundingClientRect();
      if (r.top < visibleBottom && r.left < area.right - 1 && r.right > area.right + 1) overflowX = true;
    }

    return {
      bodyPx: Math.round(bodyPx * 100) / 100,
      minPx: minPx === Infinity ? bodyPx : Math.round(minPx * 100) / 100,
      cut: paged ? state.cut : (state.cut || content.scrollHeight > content.clientHeight + 1 ||
                                (columns && content.scrollWidth > content.clientWidth + 1)),
      overflowX: overflowX,
      brokenWords: brokenWords,
      page: paged ? paged.page : 1,
      pages: paged ? paged.pages : 1
    };
  }

  // --- Entry points --------------------------------------------------------------------------

  window.tazuCard = function (markdown, theme, width, height, wordmark, scale) {
    document.documentElement.classList.remove('plain-layout');
    drawCard(markdown, theme, width, height, wordmark, scale);
    return true;
  };

  window.tazuCardDraw = function (o) {
    let pages = 1;
    if (o.showPage !== undefined) {
      pages = showPage(o.showPage);
    } else {
      document.documentElement.classList.toggle('plain-layout', Boolean(o.plainLayout));
      if (o.pages) pages = drawPages(o.markdown, o.theme, o.width, o.height, o.wordmark, o.scale, 1);
      else drawCard(o.markdown, o.theme, o.width, o.height, o.wordmark, o.scale);
    }
    return { pages: pages, report: o.report ? layoutReport() : null };
  };

})();
