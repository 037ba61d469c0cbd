// How the laid-out note's lines read: a short word left alone on a line of a headline, and
// typed lines of verse that the card had to wrap.
(function (root) {
  'use strict';

  const Text = root.CarderText;

  // Whether a line of `content` holds one short word alone while the text runs over more
  // than one line ("Ship / small, / ship often." instead of two balanced lines).
  function hasLoneShortWord(content) {
    const lines = [];  // {top, height, words, longest}
    const range = document.createRange();
    for (const node of Text.textNodes(content)) {
      for (const w of Text.words(node.data)) {
        if (!w.isWordLike) continue;
        range.setStart(node, w.index);
        range.setEnd(node, w.index + w.segment.length);
        const r = range.getClientRects()[0];
        if (!r || r.height <= 0) continue;
        let line = lines.find(function (l) { return Math.abs(l.top - r.top) < l.height / 2; });
        if (!line) lines.push(line = { top: r.top, height: r.height, words: 0, longest: 0 });
        line.words++;
        line.longest = Math.max(line.longest, w.segment.length);
      }
    }
    return lines.length > 1 && lines.some(function (l) { return l.words === 1 && l.longest < 8; });
  }

  // Paragraphs of verse: at least three typed lines, none longer than a line of verse runs.
  function verses(content) {
    return Array.from(content.querySelectorAll('p')).filter(function (p) {
      if (p.querySelectorAll('br').length < 2) return false;
      return p.innerText.split('\n').every(function (line) { return line.length <= 45; });
    });
  }
  // Whether any typed line of verse is wrapped onto a second line.
  function versesWrap(paragraphs) {
    return paragraphs.some(function (p) {
      const lineHeight = parseFloat(getComputedStyle(p).lineHeight);
      return Math.round(p.getBoundingClientRect().height / lineHeight) > p.querySelectorAll('br').length + 1;
    });
  }

  root.CarderLines = { hasLoneShortWord: hasLoneShortWord, verses: verses, versesWrap: versesWrap };
})(this);
