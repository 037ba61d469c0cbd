// The layout report: what the finished card measures, read from element boxes and text
// ranges (text sizes, a cut, anything wider than the text area, words split across lines).
(function (root) {
  'use strict';

  const Text = root.CarderText;
  const Fit = root.CarderFit;

  // What the finished layout measures, read from element boxes and text ranges.
  function layoutReport() {
    const frame = document.querySelector('.card-frame');
    // A cover is measured as the card it is: its title, subtitle and tags.
    const cover = document.getElementById('cover');
    const content = cover.hidden ? document.getElementById('content') : cover;
    const area = frame.getBoundingClientRect();
    const shown = content.getBoundingClientRect();
    const visibleBottom = Math.min(shown.bottom, area.bottom);
    const paged = cover.hidden ? Fit.state.paged : null;
    // Far outside the card means out of sight (another card of a set): not walked at all.
    const nodes = Text.textNodesNear(content, area, 400).filter(function (n) {
      const r = n.parentElement.getBoundingClientRect();
      return r.top < visibleBottom && r.bottom > shown.top && (!paged || (r.left < area.right && r.right > area.left));
    });

    // The prose size whenever the note has prose; else its tables' or code's.
    const body = content.querySelector('p:not([hidden]), li') || content.querySelector('td, pre') || content;
    const bodyPx = parseFloat(getComputedStyle(body).fontSize);
    let minPx = Infinity;
    // A formula's indices are set smaller by design: a formula counts at its own size.
    for (const n of nodes)
      minPx = Math.min(minPx, parseFloat(getComputedStyle(n.parentElement.closest('.katex') || n.parentElement).fontSize));

    const columns = content.classList.contains('columns') || Boolean(paged);
    let overflowX = !columns && content.scrollWidth > content.clientWidth + 0.5;
    const range = document.createRange();
    let brokenWords = 0;
    for (const n of nodes) {
      range.selectNodeContents(n);
      // A text cut on purpose with "…" (a cover's too-long tag) runs past its box unseen.
      const cutOnPurpose = getComputedStyle(n.parentElement).textOverflow === 'ellipsis';
      for (const r of cutOnPurpose ? [] : range.getClientRects()) {
        // Columns past the second are cut content, not overflow: only a box across an edge is.
        const across = (r.left < area.right - 1 && r.right > area.right + 1) || (r.left < area.left - 1 && r.right > area.left);
        if (r.top < visibleBottom && across) overflowX = true;
      }
      if (codeRunsPastItsBox(n, range, visibleBottom)) overflowX = true;
      for (const w of Text.words(n.data)) {
        if (!w.isWordLike || w.segment.indexOf('\u00ad') >= 0 || Text.HAN.test(w.segment) || Text.KANA.test(w.segment)) continue;
        range.setStart(n, w.index);
        range.setEnd(n, w.index + w.segment.length);
        const rects = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0; });
        if (rects.length < 2) continue;
        const tops = rects.map(function (r) { return r.top; });
        if (Math.max.apply(null, tops) - Math.min.apply(null, tops) > 2) brokenWords++;
      }
    }
    // What a reader counts as broken too: a figure range or option split at its hyphen, an
    // address split before its dot, an emoji alone on its paragraph's last line.
    brokenWords += brokenTokensOfText(nodes, range) + loneEmojiLines(content, range);
    for (const el of content.querySelectorAll('table, pre, svg')) {
      const r = el.getBoundingClientRect();
      if (r.top < visibleBottom && r.left < area.right - 1 && r.right > area.right + 1) overflowX = true;
    }

    return {
      bodyPx: Math.round(bodyPx * 100) / 100,
      minPx: minPx === Infinity ? bodyPx : Math.round(minPx * 100) / 100,
      // Columns a table could not show are cut, too. The text runs past the card only where it
      // runs past the frame: a formula's limits may reach below its own line box, on the card.
      cut: Boolean(content.querySelector('.more-columns, .formula-cut')) || (paged ? Fit.state.cut : (Fit.state.cut || content.scrollHeight > frame.clientHeight + 1 ||
                                (columns && content.scrollWidth > content.clientWidth + 1))),
      overflowX: overflowX,
      brokenWords: brokenWords,
      brokenTokens: root.CarderLines.brokenCodeTokens(content, true),
      busyness: window.CarderStyle.state.busyness,
      minContrast: window.CarderStyle.measure(document.getElementById('card')),
      page: Fit.state.paged ? Fit.state.paged.overall || Fit.state.paged.page : 1,
      pages: Fit.state.paged ? Fit.state.paged.pages + (Fit.state.paged.offset || 0) : 1,
      cover: Boolean(Fit.state.paged && Fit.state.paged.cover)
    };
  }

  // Whether code text runs into its box's right padding or past it (a space a wrapped line
  // ends with hangs there unseen: only what is drawn counts).
  function codeRunsPastItsBox(node, range, visibleBottom) {
    const box = node.parentElement.closest('pre');
    if (!box) return false;
    const right = box.getBoundingClientRect().right - parseFloat(getComputedStyle(box).paddingRight);
    const drawn = /\S+/g;
    for (let m = drawn.exec(node.data); m; m = drawn.exec(node.data)) {
      range.setStart(node, m.index);
      range.setEnd(node, m.index + m[0].length);
      for (const r of range.getClientRects()) if (r.top < visibleBottom && r.width > 0 && r.right > right + 1) return true;
    }
    return false;
  }

  function spansLines(range) {
    const tops = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0; })
      .map(function (r) { return r.top; });
    return tops.length > 1 && Math.max.apply(null, tops) - Math.min.apply(null, tops) > 2;
  }
  const ADDRESS = /(^|\s)([\p{L}\p{N}-]+(?:\.[\p{L}\p{N}-]+)*\.\p{L}{2,})(?=$|[\s,;:!?)])/gu;
  function brokenTokensOfText(nodes, range) {
    let broken = 0;
    const Markdown = root.CarderMarkdown;
    for (const n of nodes) {
      if (n.parentElement.closest('pre, .katex, .formula-source')) continue;
      // A long address or path in pieces is meant to break between them.
      const isPiece = function (sibling) { return sibling && sibling.nodeName === 'WBR'; };
      if (isPiece(n.previousSibling) || isPiece(n.nextSibling)) continue;
      // (A table that shows its columns only so breaks its codes at their hyphens; options stay whole.)
      const released = n.parentElement.closest('table[data-codes-released] td, table[data-codes-released] th');
      const highlighted = n.parentElement.closest('mark.highlight') ? [Markdown.HIGHLIGHTED_TOKEN] : [];
      for (const pattern of [Markdown.WHOLE_TOKEN, ADDRESS].concat(highlighted)) {
        pattern.lastIndex = 0;
        for (let m = pattern.exec(n.data); m; m = pattern.exec(n.data)) {
          if (released && !/^(-|\u2013)/.test(m[2])) continue;
          range.setStart(n, m.index + m[1].length);
          range.setEnd(n, m.index + m[1].length + m[2].length);
          if (spansLines(range)) broken++;
        }
      }
    }
    return broken;
  }
  function loneEmojiLines(content, range) {
    let lone = 0;
    for (const block of content.querySelectorAll('p, li, h1, h2, h3, h4, h5, h6')) {
      const words = (block.textContent || '').trim().split(/\s+/);
      if (words.length < 2 || !root.CarderMarkdown.EMOJI_ONLY.test(words[words.length - 1])) continue;
      range.selectNodeContents(block);
      const rects = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0; });
      if (rects.length < 2) continue;
      const last = rects[rects.length - 1];
      const onLastLine = rects.filter(function (r) { return Math.abs(r.top - last.top) < 2; });
      const width = onLastLine.reduce(function (w, r) { return w + r.width; }, 0);
      if (last.top - rects[0].top > 2 && width < last.height * 1.6) lone++;
    }
    return lone;
  }

  root.CarderReport = { measure: layoutReport };
})(this);
