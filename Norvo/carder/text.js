// What every part of the card page knows about text: which elements hold a note's running
// text, their text nodes, words, and the scripts that need a language of their own.
(function (root) {
  'use strict';

  // The elements that hold a note's running text.
  const TEXT_BLOCKS = 'p, li, h1, h2, h3, h4, h5, h6, blockquote, td, th';

  const KANA = /[\u3040-\u30ff\u31f0-\u31ff\uff66-\uff9f]/;
  const HANGUL = /[\u1100-\u11ff\u3130-\u318f\uac00-\ud7af]/;
  const HAN = /[\u3400-\u9fff\uf900-\ufaff]/;

  // The text nodes under `element` that hold more than white space.
  function textNodes(element) {
    const out = [];
    const walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode()) if (n.data.trim()) out.push(n);
    return out;
  }

  // The text nodes under `element` that may lie within `area` (a rectangle): a subtree whose
  // boxes all lie more than `margin` outside it is passed over unwalked. A set's other cards
  // hold thousands of nodes (a formula is dozens) that one card's measures never need.
  function textNodesNear(element, area, margin) {
    const near = function (el) {
      for (const r of el.getClientRects())
        if (r.right > area.left - margin && r.left < area.right + margin &&
            r.bottom > area.top - margin && r.top < area.bottom + margin) return true;
      return false;
    };
    const walker = document.createTreeWalker(element, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT, {
      acceptNode: function (n) {
        if (n.nodeType === 3) return n.data.trim() ? NodeFilter.FILTER_ACCEPT : NodeFilter.FILTER_SKIP;
        // An element without boxes (hidden, or display: contents) is walked, and so is one
        // whose content overflows its box (a set's columns run far past it).
        if (n.scrollWidth > n.clientWidth + 1 || n.scrollHeight > n.clientHeight + 1) return NodeFilter.FILTER_SKIP;
        return n.getClientRects().length === 0 || near(n) ? NodeFilter.FILTER_SKIP : NodeFilter.FILTER_REJECT;
      }
    });
    const out = [];
    for (let n = walker.nextNode(); n; n = walker.nextNode()) out.push(n);
    return out;
  }

  let segmenter = null;
  function words(text) {
    if (!segmenter) segmenter = new Intl.Segmenter(undefined, { granularity: 'word' });
    return segmenter.segment(text);
  }

  // Wraps each match of `pattern` in text `node` (its group 2, after group 1) that `keep` takes
  // in a <span class="nobr">: a run the line breaker keeps whole (`kind`: a class it adds).
  function keepMatchesWhole(node, pattern, keep, kind) {
    const spans = [];
    pattern.lastIndex = 0;
    for (let m = pattern.exec(node.data); m; m = pattern.exec(node.data))
      if (keep(m[2])) spans.push([m.index + m[1].length, m[2].length]);
    for (let k = spans.length - 1; k >= 0; k--) {
      const run = node.splitText(spans[k][0]);
      run.splitText(spans[k][1]);
      const span = document.createElement('span');
      span.className = kind ? 'nobr ' + kind : 'nobr';
      run.replaceWith(span);
      span.appendChild(run);
    }
  }

  const api = { TEXT_BLOCKS: TEXT_BLOCKS, KANA: KANA, HANGUL: HANGUL, HAN: HAN, textNodes: textNodes,
                textNodesNear: textNodesNear, words: words, keepMatchesWhole: keepMatchesWhole };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.CarderText = api;
})(this);
