// Sets of cards: the note as up to 20 same-size cards with one text size for all of them,
// broken between cards the way a book is broken between pages, with page marks and table
// headers repeated on every card a table continues on.
(function (root) {
  'use strict';

  const Fit = root.CarderFit;
  const Text = root.CarderText;
  const state = Fit.state;
  const MAX_PAGES = 20;
  // A code block this short is never split; a longer one keeps this many lines on each side.
  const SHORT_CODE_LINES = 12;
  const CODE_LINES_EACH_SIDE = 3;
  // The last card holds at least this share of a card's text.
  const LEAST_LAST_CARD = 0.27;
  // Breaking a set like a book takes a few layouts for most notes, a thousand or more for a
  // note of tables and headings, and each is dear where a note holds thousands of formulas.
  // The refinement has a budget of work, not of time, so that a busy machine draws the very
  // same set: a number of layouts and measures of the set, and of elements laid out or
  // measured in all (a layout costs about as much as the elements it lays out). Once either is
  // spent the set is finished plainly (the size that fits, the breaks the browser made). Sized
  // so that every note of the test corpus is refined to the end (the most, a note of four
  // tables on landscape: 1,514 layouts, about 6 s on a quiet 2-core machine) and ten thousand
  // formulas finish in about 5 s.
  const REFINE_PASSES = 2000, REFINE_ELEMENTS = 500000;
  let passesLeft = Infinity, elementsLeft = Infinity, weight = 0;
  function weigh(content) { weight = content.getElementsByTagName('*').length; }
  function spend() {
    passesLeft--;
    elementsLeft -= weight;
  }
  function outOfWork() { return passesLeft <= 0 || elementsLeft <= 0; }

  // The set is one multi-column layout: `perCard` columns a card, cards side by side `step`
  // apart, so the browser breaks between lines (never inside a word or a line of code).
  // Landscape cards take two columns each: a line of one column across a landscape card
  // would run past 90 characters.
  function arrange(frame, content, c, perCard) {
    const width = c.frameWidth;
    const gap = perCard === 2 ? Math.round(c.pad * 1.1) : c.pad * 2;
    const column = (width - (perCard - 1) * gap) / perCard;
    state.paged = { gap: gap, perCard: perCard, columnWidth: column, step: width + gap, pages: 1, page: 1, capped: false };
    content.classList.toggle('two-up', perCard === 2);
    content.style.setProperty('--page-width', column + 'px');
    content.style.setProperty('--page-gap', gap + 'px');
  }
  function columnsNow(content) {
    const p = state.paged;
    return Math.max(1, Math.round((content.scrollWidth + p.gap) / (p.columnWidth + p.gap)));
  }
  function cardsNow(content) { return Math.ceil(columnsNow(content) / state.paged.perCard); }
  function pagesAt(frame, content, size, floor) {
    spend();
    content.style.fontSize = size + 'px';
    Fit.fitWideBlocks(content, size, floor);
    return cardsNow(content);
  }
  // A word wider than its line, or a table wider than its column, runs past the card: the
  // set is searched smaller, and at the smallest size the table is fitted as a card's is.
  function pageOverflows(content) {
    for (const el of content.querySelectorAll(Text.TEXT_BLOCKS))
      if (el.scrollWidth > el.clientWidth + 0.5) return true;
    for (const table of content.querySelectorAll('table'))
      if (table.offsetWidth > roomOf(table) + 0.5) return true;
    return false;
  }
  // The width a block may take: its column's, or its card's where it spans the card.
  function roomOf(block) {
    const p = state.paged;
    return block.closest('.spans-card') ? p.perCard * p.columnWidth + (p.perCard - 1) * p.gap : p.columnWidth;
  }
  // The tables and code blocks that need more than a column's width at the smallest size.
  function widerThanColumn(content) {
    return Array.from(content.querySelectorAll(':scope > table, :scope > pre')).filter(function (block) {
      return block.classList.contains('wrapped') || block.offsetWidth > state.paged.columnWidth + 0.5;
    });
  }
  // Two columns a card: a table or code block wider than a column takes both columns of a card
  // of its own (prose keeps its columns), when each such block fits a card whole; returns
  // whether they all do. A sliver after it keeps the card's second column empty.
  function spanWideBlocks(frame, content, min) {
    const wide = widerThanColumn(content);
    if (!wide.length || content.querySelector('table table, pre pre')) return false;
    // The card starts with what goes with the block: its heading, or a lead-in ("Run this:").
    const startOf = function (block) {
      let start = block;
      const leadIn = block.previousElementSibling;
      if (leadIn && leadIn.tagName === 'P' && /:\s*$/.test(leadIn.textContent) && leadIn.textContent.length <= 200) start = leadIn;
      while (start.previousElementSibling && /^H[1-6]$/.test(start.previousElementSibling.tagName)) start = start.previousElementSibling;
      return start;
    };
    for (const block of wide) {
      block.classList.add('spans-card');
      startOf(block).classList.add('section-start', 'starts-span');
      const filler = document.createElement('div');
      filler.className = 'span-filler';
      block.after(filler);
    }
    pagesAt(frame, content, min, min);
    const whole = wide.every(function (block) {
      return block.offsetHeight <= frame.clientHeight && !block.classList.contains('wrapped') &&
             Math.max(block.offsetWidth, block.scrollWidth) <= roomOf(block) + 0.5;
    });
    if (whole) return true;
    unspan(content);
    return false;
  }
  function unspan(content) {
    for (const block of Array.from(content.querySelectorAll('.spans-card'))) block.classList.remove('spans-card');
    for (const start of Array.from(content.querySelectorAll('.starts-span'))) start.classList.remove('section-start', 'starts-span');
    for (const filler of Array.from(content.querySelectorAll('.span-filler'))) filler.remove();
  }

  function columnOf(rect, area) {
    return Math.floor((rect.left - area.left + 1) / (state.paged.columnWidth + state.paged.gap));
  }

  // A table that continues in the next column repeats its header row there: the table is
  // split where a column begins, and the rest becomes a table of its own, under a copy of
  // the header. The split rows are worked out from the rows' heights, so a long table costs
  // one layout, not one per card; splits stop past the last card of a set.
  function splitTable(table, frame, content) {
    const area = frame.getBoundingClientRect();
    const limit = area.top + content.clientHeight + 0.5;
    const lastColumn = (MAX_PAGES + 1) * state.paged.perCard;
    const range = document.createRange();
    const rows = Array.from(table.tBodies[0].rows);
    // Where the first row's text is drawn tells its column and height; the row's own box may not.
    range.selectNodeContents(rows[0]);
    const first = range.getClientRects()[0] || rows[0].getBoundingClientRect();
    const cell = rows[0].cells[0];
    const padding = cell ? parseFloat(getComputedStyle(cell).paddingTop) : 0;
    // A continued part starts at the top of its column, its first row below the header copy
    // (the table's own box may span columns: the header row's place in the table is what counts).
    const head = table.tHead.rows[0];
    const topOfPart = area.top + head.offsetTop + head.offsetHeight;
    let top = first.top - padding, column = columnOf(first, area), inPart = 0;
    const starts = [];
    for (const row of rows) {
      const height = row.offsetHeight;
      // A row close to the bottom may still be moved on by the browser: split a little early
      // rather than leave a column holding one stray row.
      // A table's first part keeps two rows with its header (or the whole table moves on).
      const least = starts.length === 0 && !table.classList.contains('continued') ? 2 : 1;
      if (inPart >= least && top + height > limit - 0.25 * height) {
        if (++column >= lastColumn) break;  // past the card after the last: nothing more is shown
        starts.push(row);
        top = topOfPart;
        inPart = 0;
      }
      top += height;
      inPart++;
    }
    // Nor is a part's last row left alone: the split before it moves up a row.
    const lastStart = starts.length ? rows.indexOf(starts[starts.length - 1]) : -1;
    if (lastStart >= 0 && lastStart === rows.length - 1 && rows.length - lastStart < 2) {
      const previousStart = starts.length > 1 ? rows.indexOf(starts[starts.length - 2]) : 0;
      if (lastStart - previousStart > 2) starts[starts.length - 1] = rows[lastStart - 1];
    }
    // The parts, last first, each moved into a table of its own after the original.
    for (let i = starts.length - 1; i >= 0; i--) {
      const rest = table.cloneNode(false);
      rest.classList.add('continued');
      rest.appendChild(table.tHead.cloneNode(true));
      const restBody = document.createElement('tbody');
      for (let row = starts[i]; row;) {
        const next = row.nextElementSibling;
        restBody.appendChild(row);
        row = next;
      }
      rest.appendChild(restBody);
      table.after(tableBreak(), rest);
    }
  }
  // How many of a table's rows stand in its header's column, and whether any stand elsewhere.
  function rowsUnderHeader(table, area) {
    const head = table.tHead && table.tHead.rows[0], body = table.tBodies[0];
    if (!head || !body) return { under: 0, elsewhere: false };
    // A row's own box does not say which column it is in, nor its text's; its cells' do (a
    // row moved on leaves an empty sliver of its cells behind: the last piece counts).
    const columnOfRow = function (row) {
      const pieces = row.cells[0] ? row.cells[0].getClientRects() : [];
      return pieces.length ? columnOf(pieces[pieces.length - 1], area) : null;
    };
    const column = columnOfRow(head);
    let under = 0, elsewhere = false;
    for (const row of body.rows) {
      const at = columnOfRow(row);
      if (at === column) under++; else if (at !== null) elsewhere = true;
    }
    return { under: under, elsewhere: elsewhere };
  }

  // --- Breaking like a book ----------------------------------------------------------------
  // Paragraphs and list items keep two lines on each side of a break and short code blocks
  // stay whole by the style sheet, while the text size is searched. What the browser does not
  // do in columns is done here, on the finished layout, one fix at a time and in reading
  // order (a fix moves everything after it): a heading moves to the next card with at least
  // two lines of what follows it, a long code block keeps three lines on each side of a
  // break, a table repeats its header where it continues, and on two columns a card what
  // follows a thematic break starts a card.

  // The note's lines in reading order: {column, top, bottom, block}. Of a table, only its header
  // and first row count (the rows have a rule of their own, and a long table has thousands).
  function linesOf(content, area) {
    spend();
    const lines = [];
    const range = document.createRange();
    for (const node of Text.textNodes(content)) {
      if (!node.data.trim()) continue;
      const row = node.parentElement.closest('tbody tr');
      if (row && row !== row.parentElement.firstElementChild) continue;
      const block = node.parentElement.closest('h1, h2, h3, h4, h5, h6, .code-line, p, li, th, td') || content;
      range.selectNodeContents(node);
      for (const r of range.getClientRects()) {
        if (r.height <= 0 || r.width <= 0) continue;
        const column = columnOf(r, area);
        const prev = lines[lines.length - 1];
        if (prev && prev.column === column && Math.abs(prev.top - r.top) < r.height / 2) {
          prev.bottom = Math.max(prev.bottom, r.bottom);
          continue;
        }
        lines.push({ column: column, top: r.top, bottom: r.bottom, block: block });
      }
    }
    return lines;
  }

  // Returns false when the break is there already: the layout cannot do better. A table
  // ignores a break before itself in columns: an empty block before it carries the break.
  function breakBefore(el) {
    // A heading goes where what it heads goes.
    while (el.previousElementSibling && /^H[1-6]$/.test(el.previousElementSibling.tagName)) el = el.previousElementSibling;
    return function () {
      if (el.classList.contains('card-break') || el.classList.contains('section-start')) return false;
      if (el.tagName === 'TABLE') {
        if (el.previousElementSibling && el.previousElementSibling.classList.contains('table-break')) return false;
        el.before(tableBreak());
      } else {
        el.classList.add('card-break');
      }
      return true;
    };
  }
  // A second break right after a break is ignored: a block as tall as the column takes the
  // right-hand column of a card instead, so that `el` starts the next card.
  function skipColumn(el, content) {
    return function () {
      if (el.previousElementSibling && el.previousElementSibling.classList.contains('column-filler')) return false;
      const filler = document.createElement('div');
      // Before a heading that starts a card, a sliver that takes the heading's break holds the
      // column: the heading's own break then starts the next column, which begins a card.
      const beforeHeading = el.classList.contains('section-start');
      filler.className = beforeHeading ? 'column-filler section-start' : 'column-filler';
      filler.style.height = beforeHeading ? '1px' : content.clientHeight + 'px';
      el.before(filler);
      return true;
    };
  }
  function tableBreak() {
    const spacer = document.createElement('div');
    spacer.className = 'card-break table-break';
    return spacer;
  }

  // Whether the run of marked lines starting at codeLines[k] (at most MARKED_RUN of them) runs
  // over two columns.
  const MARKED_RUN = 12;
  function markedRunSplit(codeLines, k, area) {
    const column = columnOf(codeLines[k].getBoundingClientRect(), area);
    let end = k;
    while (end + 1 < codeLines.length && codeLines[end + 1].classList.contains('marked')) end++;
    if (end - k + 1 > MARKED_RUN) return false;
    return columnOf(codeLines[end].getBoundingClientRect(), area) !== column;
  }

  // The note's lines (see linesOf), with where an element's first line is among them and
  // whether the element already begins its column (a break before it would change nothing).
  function lineMap(content, area) {
    const lines = linesOf(content, area);
    const firstLineOf = function (el) { return lines.findIndex(function (l) { return el.contains(l.block); }); };
    const beginsColumn = function (el) {
      const i = firstLineOf(el);
      return i <= 0 || lines[i - 1].column !== lines[i].column;
    };
    return { lines: lines, firstLineOf: firstLineOf, beginsColumn: beginsColumn };
  }
  function breakFix(el) { return { at: el, apply: breakBefore(el) }; }

  // A heading goes with the next two lines, unless it ends the note.
  function headingFix(map) {
    const lines = map.lines;
    for (let i = 0; i < lines.length; i++) {
      const block = lines[i].block;
      if (!/^H[1-6]$/.test(block.tagName) || (i > 0 && lines[i - 1].block === block)) continue;
      let end = i;
      while (end + 1 < lines.length && lines[end + 1].block === block) end++;
      const follow = lines.slice(end + 1, end + 3);
      if (follow.some(function (l) { return l.column !== lines[end].column; }) && !map.beginsColumn(block)) return breakFix(block);
    }
    return null;
  }
  // A lead-in ("Run this:") goes with the block it introduces: it never ends a card whose
  // next card starts with its code, list or table.
  function leadInFix(content, map) {
    const lines = map.lines;
    for (const p of content.querySelectorAll(':scope > p')) {
      const next = p.nextElementSibling;
      if (!next || !/^(PRE|UL|OL|TABLE|BLOCKQUOTE)$/.test(next.tagName) || !/:\s*$/.test(p.textContent)) continue;
      const first = map.firstLineOf(next);
      if (first <= 0 || !p.contains(lines[first - 1].block) || lines[first - 1].column === lines[first].column) continue;
      if (!map.beginsColumn(p)) return breakFix(p);
    }
    return null;
  }
  // Paragraphs and list items keep two lines on each side of a break; the style sheet asks
  // for that, but the browser gives up on a paragraph of three lines.
  function twoLinesEachSideFix(map) {
    const lines = map.lines;
    for (let i = 0; i < lines.length; i++) {
      const block = lines[i].block;
      if (!/^(P|LI)$/.test(block.tagName) || (i > 0 && lines[i - 1].block === block)) continue;
      const runs = [1];
      for (let j = i + 1; j < lines.length && lines[j].block === block; j++) {
        if (lines[j].column === lines[j - 1].column) runs[runs.length - 1]++; else runs.push(1);
      }
      if (runs.length > 1 && Math.min(runs[0], runs[runs.length - 1]) < 2 && !map.beginsColumn(block)) return breakFix(block);
    }
    return null;
  }
  // A long code block keeps three lines on each side of a break, and its marked lines
  // together: a marked range of a card or less is not split.
  function codeBlockFix(pre, area, map) {
    const codeLines = Array.from(pre.querySelectorAll('.code-line'));
    const runs = [];
    let column = null;
    for (const line of codeLines) {
      const at = columnOf(line.getBoundingClientRect(), area);
      if (at === column) runs[runs.length - 1]++; else runs.push(1);
      column = at;
    }
    if (runs.length < 2) return null;
    const split = codeLines.find(function (line, k) {
      return line.classList.contains('marked') && (k === 0 || !codeLines[k - 1].classList.contains('marked')) &&
             markedRunSplit(codeLines, k, area);
    });
    if (split && split !== codeLines[0]) return breakFix(split);
    if (runs[0] < CODE_LINES_EACH_SIDE && !map.beginsColumn(pre)) return breakFix(pre);
    const tail = codeLines[codeLines.length - CODE_LINES_EACH_SIDE];
    if (runs[runs.length - 1] < CODE_LINES_EACH_SIDE) return breakFix(tail);
    return null;
  }
  function codeFix(content, area, map) {
    for (const pre of content.querySelectorAll('pre:not(.keep-whole)')) {
      const fix = codeBlockFix(pre, area, map);
      if (fix) return fix;
    }
    return null;
  }
  // A table starts with its header and at least two rows on a card, or on the next one; where
  // it runs on, it is split with its header repeated.
  function tableFix(frame, content, area, map) {
    for (const table of content.querySelectorAll('table')) {
      const rows = rowsUnderHeader(table, area);
      if (!rows.elsewhere) continue;
      if (rows.under < 2 && !table.classList.contains('continued') && !map.beginsColumn(table)) return breakFix(table);
      return { at: table, apply: function () { splitTable(table, frame, content); return true; } };
    }
    return null;
  }
  // On two columns a card, what starts a card (a rule's section, a heading split at) starts a
  // card's first column.
  function cardStartFix(content, map) {
    if (state.paged.perCard !== 2) return null;
    for (const start of content.querySelectorAll('hr:not(.rule-drawn), .section-start')) {
      const first = start.tagName === 'HR' ? start.nextElementSibling : start, i = first ? map.firstLineOf(first) : -1;
      if (i >= 0 && map.lines[i].column % 2 === 1) return { at: first, apply: skipColumn(first, content) };
    }
    return null;
  }

  // The first fix the layout needs, in reading order: {at: element, apply()}, or null.
  function firstFix(frame, content, area) {
    const map = lineMap(content, area);
    const fixes = [headingFix(map), leadInFix(content, map), twoLinesEachSideFix(map), codeFix(content, area, map),
                   tableFix(frame, content, area, map), cardStartFix(content, map)].filter(Boolean);
    fixes.sort(function (a, b) { return a.at.compareDocumentPosition(b.at) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1; });
    return fixes[0] || null;
  }
  function breakLikeABook(frame, content) {
    const area = frame.getBoundingClientRect();
    for (let fixes = 0; fixes < 4 * MAX_PAGES && !outOfWork(); fixes++) {
      const fix = firstFix(frame, content, area);
      if (!fix || !fix.apply()) return;
    }
  }
  // How much of a card's text the last card holds (1: its columns are full).
  function lastCardShare(frame, content) {
    const area = frame.getBoundingClientRect();
    const perCard = state.paged.perCard, firstColumn = (cardsNow(content) - 1) * perCard;
    const spans = new Map();
    for (const line of linesOf(content, area)) {
      if (line.column < firstColumn) continue;
      const span = spans.get(line.column) || { top: Infinity, bottom: -Infinity };
      span.top = Math.min(span.top, line.top);
      span.bottom = Math.max(span.bottom, line.bottom);
      spans.set(line.column, span);
    }
    let filled = 0;
    for (const span of spans.values()) filled += span.bottom - span.top;
    return filled / (perCard * frame.clientHeight);
  }
  // The last card's share is raised by moving text onto it from the card before: a line at a
  // time from a paragraph split between them, else the block before it. Returns false when
  // that took one card more (the caller lays the set out again without it).
  function fillLastCard(frame, content) {
    const area = frame.getBoundingClientRect();
    const cards = cardsNow(content), firstColumn = (cards - 1) * state.paged.perCard;
    // The break this loop put before the block that starts the last card: it moves up to the
    // block moved over next (two breaks in a row would start a column each).
    let moved = null;
    const startsLastCard = function (el) {
      if (moved && moved !== el) moved.classList.remove('card-break');
      el.classList.add('card-break');
      moved = el;
    };
    for (let step = 0; step < 12 && lastCardShare(frame, content) < LEAST_LAST_CARD; step++) {
      const lines = linesOf(content, area);
      const first = lines.findIndex(function (l) { return l.column >= firstColumn; });
      if (first <= 0) return true;
      const block = lines[first].block, before = lines[first - 1].block;
      // A card that starts a section split at its heading holds that section alone.
      const top = block.closest('.content > *');
      if (top && top.classList.contains('section-start')) return true;
      if (block === before && /^(P|LI)$/.test(block.tagName)) {
        let onLast = 0, onBefore = 0;
        for (const l of lines) if (l.block === block) { if (l.column >= firstColumn) onLast++; else onBefore++; }
        if (onBefore - 1 >= 2) {
          block.style.widows = String(onLast + 1);
          block.classList.add('widows-set');
        } else if (!block.classList.contains('card-break')) {
          startsLastCard(block);
        } else {
          return true;
        }
      } else {
        if (before.closest('table, .spans-card')) return true;  // tables move by their own rule; a spanning block stays
        const whole = before.closest('li') || before.closest('.content > *');
        if (!whole || whole.classList.contains('card-break')) return true;
        startsLastCard(whole);
      }
      breakLikeABook(frame, content);
      if (cardsNow(content) !== cards) return false;
    }
    return true;
  }

  // A thematic break starts a card, unless what follows it up to the next break is short (a
  // sign-off: less than this share of a card) after a section that fills most of one: then it
  // is drawn as the rule it is, on the card before. Short thoughts each after a break (a
  // thread) keep a card each.
  const SHORT_SECTION = 0.3, FULL_SECTION = 0.6;
  function drawShortSectionRules(frame, content) {
    const area = frame.getBoundingClientRect();
    const rules = Array.from(content.querySelectorAll(':scope > hr:not(.rule-drawn)'));
    if (!rules.length) return false;
    const lines = linesOf(content, area);
    const after = function (el, l) { return !el || (el.compareDocumentPosition(l.block) & Node.DOCUMENT_POSITION_FOLLOWING); };
    const before = function (el, l) { return !el || (el.compareDocumentPosition(l.block) & Node.DOCUMENT_POSITION_PRECEDING); };
    // The share of a card a section's lines take; more than a card when they run over two.
    const share = function (from, to) {
      const inSection = lines.filter(function (l) { return after(from, l) && before(to, l); });
      if (!inSection.length) return 0;
      if (inSection.some(function (l) { return l.column !== inSection[0].column; })) return Infinity;
      const top = Math.min.apply(null, inSection.map(function (l) { return l.top; }));
      const bottom = Math.max.apply(null, inSection.map(function (l) { return l.bottom; }));
      return (bottom - top) / frame.clientHeight;
    };
    let changed = false;
    rules.forEach(function (hr, k) {
      const own = share(hr, rules[k + 1] || null);
      if (own > 0 && own < SHORT_SECTION && share(rules[k - 1] || null, hr) >= FULL_SECTION) {
        hr.classList.add('rule-drawn');
        changed = true;
      }
    });
    return changed;
  }
  // A drawn rule that the set still put at the top of a card separates nothing there.
  function hideRulesAtCardTops(frame, content) {
    const top = frame.getBoundingClientRect().top + parseFloat(getComputedStyle(content).paddingTop || '0');
    for (const hr of content.querySelectorAll('hr.rule-drawn')) {
      hr.classList.remove('at-card-top');
      const margin = parseFloat(getComputedStyle(hr).marginTop) || 0;
      if (hr.getBoundingClientRect().top - margin <= top + 1) hr.classList.add('at-card-top');
    }
  }

  // A code box that runs onto the next card closes at the card's edge and opens again on the
  // next one, rounded both times, instead of being cut flat: once the set is laid out, it
  // becomes one box per card, without padding at the cut so that no line moves.
  function closeCodeAtCardEdges(frame, content) {
    const area = frame.getBoundingClientRect();
    for (const pre of Array.from(content.querySelectorAll('pre'))) {
      const code = pre.querySelector('code');
      const lines = code ? Array.from(code.children).filter(function (l) { return l.classList.contains('code-line'); }) : [];
      const firsts = lines.filter(function (line, k) {
        return k > 0 && columnOf(line.getBoundingClientRect(), area) !== columnOf(lines[k - 1].getBoundingClientRect(), area);
      });
      let current = pre;
      for (const first of firsts) {
        const part = current.cloneNode(false);
        const partCode = code.cloneNode(false);
        part.appendChild(partCode);
        for (let line = first; line;) {
          const next = line.nextSibling;
          partCode.appendChild(line);
          line = next;
        }
        current.classList.add('cut-below');
        part.classList.add('cut-above');
        // A break before the line is the new box's own now.
        if (first.classList.contains('card-break')) {
          first.classList.remove('card-break');
          part.classList.add('card-break');
        }
        current.after(part);
        current = part;
      }
    }
  }

  // Undoes what breaking like a book did: breaks, widened widows and table parts.
  function unbreak(content) {
    for (const el of Array.from(content.querySelectorAll('.table-break, .column-filler'))) el.remove();
    for (const el of Array.from(content.querySelectorAll('.card-break'))) el.classList.remove('card-break');
    for (const el of Array.from(content.querySelectorAll('.widows-set'))) {
      el.classList.remove('widows-set');
      el.style.widows = '';
    }
    for (const part of Array.from(content.querySelectorAll('table.continued'))) {
      const whole = part.previousElementSibling.tBodies[0];
      for (const row of Array.from(part.tBodies[0].rows)) whole.appendChild(row);
      part.remove();
    }
    content.style.height = '';
  }
  // Removes the content that starts past card `cards` as now laid out: whole blocks, and the
  // inline parts of a block that runs on past it. Returns whether anything went. The first
  // node past the cards is found by halving (nodes run in reading order, so their columns
  // never go back), and everything from it on goes at once: a paragraph of ten thousand
  // formulas costs a few measures, not one a formula.
  function dropPastCards(content, cards) {
    const area = content.getBoundingClientRect();
    const limit = cards * state.paged.perCard;
    // The column a node starts in; a node without boxes (a text node, an empty element) takes
    // its neighbour's before it, so it never decides.
    const past = function (node) {
      const rects = node.nodeType === 1 ? node.getClientRects() : null;
      return Boolean(rects && rects.length > 0 && columnOf(rects[0], area) >= limit);
    };
    const firstPast = function (nodes) {
      let lo = 0, hi = nodes.length;  // nodes[hi] is past; nodes before lo are not
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        let probe = mid;
        while (probe < hi && !(nodes[probe].nodeType === 1 && nodes[probe].getClientRects().length)) probe++;
        if (probe === hi) { hi = mid; continue; }
        if (past(nodes[probe])) hi = mid; else lo = probe + 1;
      }
      // What goes starts with an element past the cards: text before it may still show.
      while (lo < nodes.length && !(nodes[lo].nodeType === 1 && nodes[lo].getClientRects().length)) lo++;
      return lo;
    };
    const dropFrom = function (node) {
      // Out of the page while it is cut: nodes taken one by one out of a laid-out set of
      // columns cost a layout's bookkeeping each (seconds for ten thousand formulas).
      const parent = node.parentNode, place = parent.nextSibling, holder = parent.parentNode;
      parent.remove();
      const range = document.createRange();
      range.setStartBefore(node);
      range.setEndAfter(parent.lastChild);
      range.deleteContents();
      holder.insertBefore(parent, place);
    };
    const blocks = Array.from(content.children);
    const firstBlockPast = firstPast(blocks);
    let dropped = false;
    if (firstBlockPast < blocks.length) {
      dropFrom(blocks[firstBlockPast]);
      dropped = true;
    }
    // The block before runs on past the last card, perhaps: its parts from the first one past it go.
    const last = blocks[firstBlockPast - 1];
    const rects = last ? last.getClientRects() : [];
    if (rects.length && columnOf(rects[rects.length - 1], area) >= limit) {
      const parts = Array.from(last.childNodes);
      const first = firstPast(parts);
      if (first > 0 && first < parts.length) {
        dropFrom(parts[first]);
        dropped = true;
      }
    }
    return dropped;
  }

  // The set at one text size, broken like a book. A last card with a line or two is
  // rebalanced: every card of the set gives up a little of its height, as little as makes
  // the last card hold its share. Returns the number of cards.
  function setAt(frame, content, size, floor) {
    unbreak(content);
    pagesAt(frame, content, size, floor);
    breakLikeABook(frame, content);
    const cards = cardsNow(content);
    if (cards < 2 || cards > MAX_PAGES || outOfWork() || lastCardShare(frame, content) >= LEAST_LAST_CARD) return cards;
    const full = frame.clientHeight;
    const brokenAt = function (height) {
      unbreak(content);
      content.style.height = height ? height + 'px' : '';
      breakLikeABook(frame, content);
      return !outOfWork() && cardsNow(content) === cards && lastCardShare(frame, content) >= LEAST_LAST_CARD;
    };
    const height = Fit.largestPassing(Math.ceil(full / 2), full - 1, brokenAt);
    if (brokenAt(height)) return cards;
    brokenAt(0);
    if (!outOfWork() && !fillLastCard(frame, content)) brokenAt(0);
    return cardsNow(content);
  }

  // A paragraph that is one picture (and a caption line, if any) is a card of its own in a
  // set of one column a card, the picture as large as the card allows.
  function markPicturePages(content) {
    for (const p of content.querySelectorAll(':scope > p')) {
      const one = p.querySelectorAll('img.picture-block').length === 1 && p.querySelector(':scope > img.picture-block');
      p.classList.toggle('picture-page', Boolean(one) && state.paged.perCard === 1 && p.textContent.trim().length <= 140);
    }
  }

  // Split at headings: every heading of the top two levels starts a card, but for one that
  // begins the note or follows a heading it belongs with ("# Part" over "## Chapter").
  function markSectionStarts(content, split) {
    for (const heading of content.querySelectorAll(':scope > h1, :scope > h2')) {
      const before = heading.previousElementSibling;
      heading.classList.toggle('section-start', heading.classList.contains('starts-span') ||
                               (split === 'headings' && Boolean(before) && !/^H[1-6]$/.test(before.tagName)));
    }
  }

  // How many sections (split at headings) fill most of a card at the smallest size, each still
  // within one.
  const LONG_SECTION = 0.6;
  function longSections(frame, content) {
    const capacity = frame.clientHeight * state.paged.perCard;
    let long = 0, height = 0;
    const close = function () { if (height > LONG_SECTION * capacity && height <= capacity) long++; };
    for (const el of content.children) {
      if (el.classList.contains('section-start') && !el.classList.contains('column-filler') && height > 0) {
        close();
        height = 0;
      }
      height += el.offsetHeight;
    }
    close();
    return long;
  }

  // How a card of the set is numbered: "n/N" (3/12), "01 / 12" or not at all.
  function markText(page, pages, marks) {
    if (marks === '01 / 12') {
      const digits = Math.max(2, String(pages).length);
      return String(page).padStart(digits, '0') + ' / ' + String(pages).padStart(digits, '0');
    }
    return page + '/' + pages;
  }

  // Readies the set to be measured: paged, in one or two columns a card (two on a wide card),
  // its picture pages and section starts marked, short code blocks kept whole.
  function prepareSet(c, how) {
    const frame = c.frame, content = c.content;
    passesLeft = REFINE_PASSES;
    elementsLeft = REFINE_ELEMENTS;
    weigh(content);
    state.tableMin = c.tableMin;
    state.formulaMin = c.formulaMin;
    frame.classList.add('paged');
    content.classList.add('paged');
    content.style.height = '';
    arrange(frame, content, c, c.landscape ? 2 : 1);
    markPicturePages(content);
    markSectionStarts(content, how.split);
    for (const pre of content.querySelectorAll('pre'))
      pre.classList.toggle('keep-whole', pre.querySelectorAll('.code-line').length <= SHORT_CODE_LINES);
  }

  // Wide blocks spanning cards of their own, or one column a card (lines of 120 characters):
  // the blocks span while each costs the set at most the one card it stands on. Returns the
  // fewest cards the set then takes.
  function settleWideBlocks(c, how, min) {
    const frame = c.frame, content = c.content;
    const oneColumn = function () {
      arrange(frame, content, c, 1);
      markPicturePages(content);
      markSectionStarts(content, how.split);
      return pagesAt(frame, content, min, min);
    };
    const inOne = oneColumn();
    arrange(frame, content, c, 2);
    markPicturePages(content);
    const wide = widerThanColumn(content).length;
    const spanned = spanWideBlocks(frame, content, min) && cardsNow(content) <= inOne + wide;
    if (!spanned) {
      unspan(content);
      oneColumn();
    }
    return pagesAt(frame, content, min, min);
  }

  // The largest size at which the set takes no more than `fewest` cards, and the cards it
  // takes there once broken like a book: {size, pages}.
  function searchSize(frame, content, min, max, fewest) {
    let size = min;
    if (fewest <= MAX_PAGES) {
      size = Fit.largestPassing(min, max, function (s) {
        return !outOfWork() && pagesAt(frame, content, s, min) <= fewest && !pageOverflows(content);
      });
    }
    // The breaks can take a card more than the size was searched for: then a step smaller.
    // Where they take it even at the smallest size (a rule that starts a card), that card
    // is the set's, and the size is searched again with the breaks.
    let pages = setAt(frame, content, size, min);
    if (pages > fewest && size > min && !outOfWork()) {
      const atMin = setAt(frame, content, min, min);
      if (atMin > fewest && atMin <= MAX_PAGES) {
        fewest = atMin;
        size = Fit.largestPassing(min, size, function (s) {
          return !outOfWork() && setAt(frame, content, s, min) <= fewest && !pageOverflows(content);
        });
      }
      pages = setAt(frame, content, size, min);
    }
    while (pages > fewest && size > min) pages = setAt(frame, content, outOfWork() ? (size = min) : --size, min);
    return { size: size, pages: pages };
  }

  // The note as up to 20 cards with one text size for all of them, the largest at which it
  // takes no more cards than at the smallest size; shows card `page`. Returns the number of
  // cards. `how.cover`: a cover comes first (it counts in the marks and in the 20);
  // `how.marks`: how the cards are numbered; `how.split`: 'headings' starts a card at each
  // heading, else the cards break where they are full.
  function layOut(c, page, how) {
    how = how || {};
    const offset = how.cover ? 1 : 0;
    const frame = c.frame, content = c.content, min = Math.ceil(c.min), max = Math.max(min, Math.floor(c.max));
    prepareSet(c, how);
    let fewest = pagesAt(frame, content, min, min);
    if (state.paged.perCard === 2 && widerThanColumn(content).length) fewest = settleWideBlocks(c, how, min);
    // (After the arrangement is settled: arranging again starts the set's state afresh.)
    state.paged.offset = offset;
    state.paged.marks = how.marks || 'n/N';
    // What lies past the last card even at the smallest size is never shown: it goes before
    // the set is broken, which otherwise measures every line of it (thousands of formulas).
    let dropped = false;
    if (fewest > MAX_PAGES + 1 && dropPastCards(content, MAX_PAGES + 1)) {
      dropped = true;
      weigh(content);
      fewest = pagesAt(frame, content, min, min);
    }
    if (pageOverflows(content) && Fit.hyphenateOverlongWords(content)) fewest = pagesAt(frame, content, min, min);
    // Split at headings, a long section may run on over a card more, so that one long section
    // does not hold every card of the set at the smallest text.
    if (how.split === 'headings') fewest = Math.min(MAX_PAGES, fewest + longSections(frame, content));
    let set = searchSize(frame, content, min, max, fewest);
    // A rule whose section is short (a sign-off) is drawn on the card before instead of
    // starting a card of its own: the set is searched again without that break.
    if (set.pages > 1 && !outOfWork() && drawShortSectionRules(frame, content)) {
      unbreak(content);
      set = searchSize(frame, content, min, max, pagesAt(frame, content, min, min));
    }
    hideRulesAtCardTops(frame, content);
    closeCodeAtCardEdges(frame, content);
    passesLeft = elementsLeft = Infinity;
    state.paged.pages = Math.min(set.pages, MAX_PAGES - offset);
    state.paged.capped = set.pages > MAX_PAGES - offset || c.truncated || dropped;
    showPage(page);
    return state.paged.pages + offset;
  }

  // Shows card `page` of the set laid out last (only moves it into view): with a cover, card 1
  // is the cover and the note's cards follow. Returns the number of cards.
  function showPage(page) {
    const paged = state.paged;
    if (!paged) return 0;
    const content = document.getElementById('content');
    const mark = document.getElementById('pagemark');
    const total = paged.pages + paged.offset;
    const overall = Math.max(1, Math.min(total, Math.round(page) || 1));
    paged.cover = paged.offset > 0 && overall === 1;
    if (paged.offset) root.CarderCover.show(paged.cover);
    paged.page = Math.max(1, overall - paged.offset);
    paged.overall = overall;
    content.style.transform = 'translateX(' + (-(paged.page - 1) * paged.step) + 'px)';
    mark.textContent = markText(overall, total, paged.marks);
    mark.hidden = total < 2 || paged.cover || paged.marks === 'none';
    state.cut = !paged.cover && paged.capped && paged.page === paged.pages;
    document.getElementById('continues').hidden = !state.cut;
    void content.offsetHeight;
    return total;
  }

  root.CarderPages = { MAX_PAGES: MAX_PAGES, layOut: layOut, showPage: showPage, markText: markText };
})(this);
