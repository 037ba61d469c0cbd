// Formulas in a note: "$...$" inline and "$$...$$" on lines of their own, drawn by KaTeX once
// the page has it. Dollars follow KaTeX's usual rules, so "$5 and $10" stays text: an opening
// dollar is not followed by a space, a closing one is not preceded by a space nor followed by
// a digit, and "\$" is a dollar sign. Runs in node too (the parsing rules).
(function (root) {
  'use strict';

  function isSpace(code) { return code === 0x20 || code === 0x09 || code === 0x0A; }
  function isDigit(code) { return code >= 0x30 && code <= 0x39; }

  // The closing dollar of an inline formula opened at `start` ("$" at start), or -1.
  function closingDollar(src, start, max) {
    if (start + 1 >= max || isSpace(src.charCodeAt(start + 1))) return -1;
    for (let i = start + 1; i < max; i++) {
      const c = src.charCodeAt(i);
      if (c === 0x5C) { i++; continue; }  // "\$" and other escapes inside TeX
      if (c !== 0x24) continue;
      // A formula holds no bare dollar, so the next one closes it or nothing does: in "$5 and
      // $10, but $x$" the dollar before 10 cannot close, so "$5" is text.
      if (i === start + 1) return -1;  // "$$" is display math, handled elsewhere
      if (isSpace(src.charCodeAt(i - 1))) return -1;
      if (i + 1 < max && isDigit(src.charCodeAt(i + 1))) return -1;
      return i;
    }
    return -1;
  }

  // Whether a note may hold a formula: the page then loads KaTeX before drawing it.
  function mayHoldFormula(text) {
    const src = String(text);
    for (let i = src.indexOf('$'); i >= 0; i = src.indexOf('$', i + 1)) {
      if (i > 0 && src.charCodeAt(i - 1) === 0x5C) continue;
      if (src.charCodeAt(i + 1) === 0x24) return true;
      const lineEnd = src.indexOf('\n', i);
      if (closingDollar(src, i, lineEnd < 0 ? src.length : lineEnd) > 0) return true;
    }
    return false;
  }

  // A formula drawn by KaTeX, or what was typed when KaTeX is not there or cannot draw it.
  // `tag`: a block of its own is a div; a formula inside a paragraph stays a span.
  function drawFormula(katex, escape, tex, display, tag) {
    const k = katex();
    // A short formula within a line stays on one line, as a word does.
    const short = !display && tex.length <= 24 ? ' formula-short' : '';
    if (k) {
      try {
        const html = k.renderToString(tex, {
          displayMode: display, output: 'html', throwOnError: true, trust: false, strict: 'ignore',
          maxSize: 40, maxExpand: 500
        });
        // A display formula keeps its source: too wide for its column, it is set again in
        // lines (see fitDisplayFormulas).
        const source = display ? ' data-tex="' + escape(tex) + '"' : '';
        return '<' + tag + ' class="formula' + (display ? ' formula-display' : short) + '"' + source + '>' + html +
               '</' + tag + '>';
      } catch (e) {
        // A formula that does not parse shows what was typed, muted: the card still comes out.
      }
    }
    const fence = display ? '$$' : '$';
    return '<' + tag + ' class="formula-source' + (display ? ' formula-display' : short) + '">' +
           escape(fence + tex + fence) + '</' + tag + '>';
  }

  // "$...$" within a line, or "$$...$$" there (drawn as a display formula).
  function inlineFormula(state, silent) {
    const src = state.src, start = state.pos, max = state.posMax;
    if (src.charCodeAt(start) !== 0x24) return false;
    let end, display = false;
    if (src.charCodeAt(start + 1) === 0x24) {
      end = src.indexOf('$$', start + 2);
      if (end < 0 || end > max - 2 || end === start + 2) return false;
      display = true;
    } else {
      end = closingDollar(src, start, max);
      if (end < 0) return false;
    }
    if (!silent) {
      const token = state.push('formula_inline', 'span', 0);
      token.content = src.slice(start + (display ? 2 : 1), end);
      token.meta = { display: display };
    }
    state.pos = end + (display ? 2 : 1);
    return true;
  }

  // The TeX of a display formula opened by "$$" at the start of `startLine` and the line that
  // closes it ({body, last}), or null when no line ends with "$$".
  function displayFormulaLines(state, startLine, endLine) {
    const pos = state.bMarks[startLine] + state.tShift[startLine];
    const first = state.src.slice(pos + 2, state.eMarks[startLine]);
    if (first.trim().endsWith('$$') && first.trim().length > 2) return { body: first.trim().slice(0, -2), last: startLine };
    const lines = [first];
    for (let line = startLine + 1; line < endLine; line++) {
      const text = state.src.slice(state.bMarks[line] + state.tShift[line], state.eMarks[line]);
      if (text.trim().endsWith('$$')) {
        lines.push(text.trim().slice(0, -2));
        return { body: lines.join('\n'), last: line };
      }
      lines.push(text);
    }
    return null;
  }
  // "$$" opening a line: the formula runs to the line that ends with "$$".
  function blockFormula(state, startLine, endLine, silent) {
    const pos = state.bMarks[startLine] + state.tShift[startLine];
    if (state.sCount[startLine] - state.blkIndent >= 4) return false;
    if (state.src.slice(pos, pos + 2) !== '$$') return false;
    const formula = displayFormulaLines(state, startLine, endLine);
    if (!formula || !formula.body.trim()) return false;
    if (silent) return true;
    const token = state.push('formula_block', 'div', 0);
    token.content = formula.body.trim();
    token.map = [startLine, formula.last + 1];
    token.block = true;
    state.line = formula.last + 1;
    return true;
  }

  // `katex()` gives KaTeX once the page has it.
  function plugin(md, katex) {
    const escape = md.utils.escapeHtml;
    md.inline.ruler.after('escape', 'formula', inlineFormula);
    md.block.ruler.before('fence', 'formula_block', blockFormula, { alt: ['paragraph', 'reference', 'blockquote', 'list'] });
    // Punctuation right after a short formula stays on its line ("where $x$:" never leaves
    // the colon alone on the next).
    md.renderer.rules.formula_inline = function (tokens, idx) {
      const tex = tokens[idx].content, display = tokens[idx].meta.display;
      const html = drawFormula(katex, escape, tex, display, 'span');
      const next = tokens[idx + 1];
      const tail = !display && tex.length <= 24 && next && next.type === 'text' ? /^[.,;:!?)\]]+/.exec(next.content) : null;
      if (!tail) return html;
      next.content = next.content.slice(tail[0].length);
      return '<span class="formula-glued">' + html + escape(tail[0]) + '</span>';
    };
    md.renderer.rules.formula_block = function (tokens, idx) {
      return drawFormula(katex, escape, tokens[idx].content, true, 'div') + '\n';
    };
  }

  // A display formula that would have to shrink below this share of the text to fit its
  // column is set in lines instead, broken after its relations and operators as in print.
  const LINES_BELOW = 0.75;
  function setInLines(block) {
    const katex = root.katex;
    if (!block.querySelector('.formula-lines')) {
      if (!katex || !block.dataset.tex) return false;
      try {
        const html = katex.renderToString('\\displaystyle ' + block.dataset.tex, {
          displayMode: false, output: 'html', throwOnError: true, trust: false, strict: 'ignore', maxSize: 40, maxExpand: 500
        });
        block.insertAdjacentHTML('beforeend', '<span class="formula-lines">' + html + '</span>');
      } catch (e) {
        return false;
      }
    }
    block.classList.add('in-lines');
    return true;
  }

  // Display formulas wider than their column are set in lines where they break, else
  // smaller, down to `floor` pixels; past that they are cut at the column's edge (and say
  // so: returns whether any was).
  function fitDisplayFormulas(content, columnWidth, floor) {
    let cut = false;
    for (const block of content.querySelectorAll('.formula-display')) {
      block.classList.remove('formula-cut', 'in-lines');
      block.style.fontSize = '';
      const room = Math.min(columnWidth, block.clientWidth || columnWidth);
      const wide = block.scrollWidth;
      if (wide <= room + 0.5) continue;
      const px = parseFloat(getComputedStyle(block).fontSize);
      // A formula that is the whole card stays one line, smaller, while that line is readable.
      const alone = content.children.length === 1 && content.firstElementChild.contains(block) &&
                    px * room / wide >= floor;
      if (!alone && px * room / wide < LINES_BELOW * px && setInLines(block)) {
        if (block.scrollWidth <= room + 0.5) continue;
        block.classList.remove('in-lines');
      }
      let fitted = Math.max(floor, Math.floor(px * room / wide * 100) / 100);
      block.style.fontSize = fitted + 'px';
      // A formula's width does not scale exactly with its size (its rules and spaces round):
      // a few steps smaller settle what the ratio left a pixel too wide.
      for (let step = 0; step < 4 && fitted > floor && block.scrollWidth > room + 0.5; step++) {
        fitted = Math.max(floor, Math.floor(fitted * 0.985 * 100) / 100);
        block.style.fontSize = fitted + 'px';
      }
      if (block.scrollWidth > room + 0.5) {
        block.classList.add('formula-cut');
        cut = true;
      }
    }
    return cut;
  }

  const api = { plugin: plugin, mayHoldFormula: mayHoldFormula, closingDollar: closingDollar,
                fitDisplayFormulas: fitDisplayFormulas };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.CarderFormulas = api;
})(this);
