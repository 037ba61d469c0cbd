// How the laid-out note's lines read: a short word left alone on a line of a headline, typed
// lines of verse that the card had to wrap, and code that wraps between its tokens.
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

  const TOKEN = /[A-Za-z0-9_$]/;
  const OPENS = '([{,;';
  // Where a wrapped code line may break besides its spaces: after an opening bracket, a comma,
  // a semicolon or a path's "::", and before a member access (document|.querySelector), so that a line
  // wraps between tokens, never inside a name. Marks each place with a <wbr>; once per block.
  // A command-line option ("--oneline", "--author=user.email") is one word of its line.
  const OPTION = /(^|\s)(--?[A-Za-z][\w.=:,@/+%-]*)/g;
  // So is an address ("https://example.org/a"), which, wider than its line, breaks after a
  // slash.
  const ADDRESS = /(^|[\s"'(=])((?:https?|ftp):\/\/[\w.:@%+~#=-]+[\w/?&.=%+~#-]*)/g;
  // So is a path ("build/release/app.tar.gz"), breaking after a slash like an address.
  const PATH = /(^|[\s"'(=:@])((?:~|\.{1,2})?\/?[\w.@%+~-]+(?:\/[\w.@%+~*-]*)+)/g;
  // And a word with hyphens inside ("postgres:16-alpine", "2024-07-01"): the engine would break
  // after a hyphen.
  const HYPHENED = /(^|[\s"'(=,])([^\s"'(),;=:-][^\s"'(),;=]*-[^\s"'(),;=]*[^\s"'(),;=.:-])/g;
  function keepOptionsWhole(line) {
    const loose = function () {
      const nodes = [];
      const walker = document.createTreeWalker(line, NodeFilter.SHOW_TEXT);
      for (let node = walker.nextNode(); node; node = walker.nextNode())
        if (!node.parentElement.closest('.line-number, .nobr')) nodes.push(node);
      return nodes;
    };
    const fits = function (token) { return token.length >= 3 && token.length <= 48; };
    for (const node of loose()) Text.keepMatchesWhole(node, OPTION, fits);
    for (const node of loose()) Text.keepMatchesWhole(node, ADDRESS, function (a) { return a.length <= 400; }, 'address');
    for (const node of loose()) Text.keepMatchesWhole(node, PATH, function (a) { return a.length <= 400; }, 'address');
    for (const node of loose()) Text.keepMatchesWhole(node, HYPHENED, fits, 'hyphened');
  }
  function addCodeBreaks(pre) {
    if (pre.dataset.breaks) return;
    pre.dataset.breaks = '1';
    for (const line of pre.querySelectorAll('.code-line')) {
      keepOptionsWhole(line);
      const spots = [];  // {node, offset}, in order
      let previous = '', beforePrevious = '', name = 0;  // name: the length of the name before
      const walker = document.createTreeWalker(line, NodeFilter.SHOW_TEXT);
      for (let node = walker.nextNode(); node; node = walker.nextNode()) {
        if (node.parentElement.closest('.line-number')) continue;
        // A run kept whole gets its places only once released (the engine breaks at a <wbr>
        // even where the text may not wrap).
        const whole = Boolean(node.parentElement.closest('.nobr'));
        const data = node.data;
        for (let i = 0; i < data.length; i++) {
          const c = data[i], next = data[i + 1] || '';
          const afterOpen = OPENS.indexOf(previous) >= 0 && c !== ' ' && ')]}'.indexOf(c) < 0 && previous !== '';
          // Not after a short name: "o" / ".created_at" reads as two things; nor before a short
          // ending that no call follows: "app.tar" / ".gz" is a file's name.
          const after = c === '.' ? /^\.([A-Za-z_$][\w$]*)(.?)/.exec(data.slice(i, i + 12)) : null;
          const ending = Boolean(after) && after[1].length <= 4 && after[2] !== '(' && after[2] !== '[';
          const beforeMember = c === '.' && !ending && (name >= 3 || ')]'.indexOf(previous) >= 0) && /[A-Za-z_$]/.test(next);
          const afterPath = previous === ':' && beforePrevious === ':' && /[A-Za-z_]/.test(c);
          if (!whole && (afterOpen || beforeMember || afterPath) && spots.length < 400) spots.push({ node: node, offset: i });
          name = TOKEN.test(c) ? name + 1 : 0;
          beforePrevious = previous;
          previous = c;
        }
      }
      for (let k = spots.length - 1; k >= 0; k--) {
        const spot = spots[k];
        const rest = spot.offset > 0 ? spot.node.splitText(spot.offset) : spot.node;
        rest.parentNode.insertBefore(document.createElement('wbr'), rest);
      }
    }
  }

  // An option wider than its code's line cannot stay whole: it wraps like the rest, at this
  // text size (a size tried larger earlier must not leave options loose at a smaller one).
  function releaseOverlongOptions(pre) {
    const options = pre.querySelectorAll('.code-line .nobr');
    for (const option of options) option.classList.remove('released');
    // The room of a wrapped line: its line's width after the hanging indent.
    const room = function (option) {
      const line = option.closest('.code-line');
      return line.clientWidth - parseFloat(getComputedStyle(line).paddingLeft);
    };
    for (const option of options) for (const spot of Array.from(option.querySelectorAll('wbr'))) spot.remove();
    const overlong = Array.from(options).filter(function (option) { return option.getBoundingClientRect().width > room(option); });
    for (const option of overlong) {
      option.classList.add('released');
      placesInside(option);
    }
  }
  // Where a released run may break: an address after a slash, a hyphened word after a hyphen,
  // an option before a dot or after "=" or ",".
  function placesInside(run) {
    const address = run.classList.contains('address'), hyphened = run.classList.contains('hyphened');
    const spots = [];
    let previous = '', beforePrevious = '';
    const walker = document.createTreeWalker(run, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      for (let i = 0; i < node.data.length; i++) {
        const c = node.data[i];
        const spot = address ? previous === '/' && beforePrevious !== '/' && c !== '/'
                   : hyphened ? previous === '-' && c !== '-'
                   : (c === '.' && previous !== '' && previous !== '.') || ((previous === '=' || previous === ',') && c !== '=');
        if (spot) spots.push({ node: node, offset: i });
        beforePrevious = previous;
        previous = c;
      }
    }
    for (let k = spots.length - 1; k >= 0; k--) {
      const rest = spots[k].offset > 0 ? spots[k].node.splitText(spots[k].offset) : spots[k].node;
      rest.parentNode.insertBefore(document.createElement('wbr'), rest);
    }
  }

  // How many names in `content`'s code are split across two lines (querySelecto|r): read
  // from the text ranges of the code lines that wrapped.
  // `every`: addresses, paths and hyphened words split where a released one breaks count as well (the
  // report's count; the layout keeps them whole where a size can, but never shrinks the note
  // for them).
  function brokenCodeTokens(content, every) {
    let broken = 0;
    const range = document.createRange();
    for (const pre of content.querySelectorAll('pre.wrapped')) {
      const lineHeight = parseFloat(getComputedStyle(pre).lineHeight) || parseFloat(getComputedStyle(pre).fontSize) * 1.4;
      for (const line of pre.querySelectorAll('.code-line')) {
        if (line.getBoundingClientRect().height < lineHeight * 1.5) continue;
        // A name may run over several text nodes (a <wbr> never falls inside one: each stands
        // beside a bracket, a comma or a dot).
        let run = [];
        const close = function () {
          if (run.length) {
            range.setStart(run[0].node, run[0].offset);
            const last = run[run.length - 1];
            range.setEnd(last.node, last.offset + 1);
            const tops = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0; })
              .map(function (r) { return r.top; });
            if (tops.length > 1 && Math.max.apply(null, tops) - Math.min.apply(null, tops) > 2) broken++;
          }
          run = [];
        };
        const walker = document.createTreeWalker(line, NodeFilter.SHOW_TEXT);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
          if (node.parentElement.closest('.line-number')) continue;
          for (let i = 0; i < node.data.length; i++) {
            if (TOKEN.test(node.data[i])) run.push({ node: node, offset: i });
            else close();
          }
        }
        close();
        // An option is one word: split anywhere ("--" / "oneline"), it is broken.
        for (const option of line.querySelectorAll('.nobr')) {
          if (!every && (option.classList.contains('address') || option.classList.contains('hyphened'))) continue;
          range.selectNodeContents(option);
          const tops = Array.from(range.getClientRects()).filter(function (r) { return r.width > 0; })
            .map(function (r) { return r.top; });
          if (tops.length > 1 && Math.max.apply(null, tops) - Math.min.apply(null, tops) > 2) broken++;
        }
      }
    }
    return broken;
  }

  root.CarderLines = { hasLoneShortWord: hasLoneShortWord, verses: verses, versesWrap: versesWrap,
                       addCodeBreaks: addCodeBreaks, releaseOverlongOptions: releaseOverlongOptions,
                       brokenCodeTokens: brokenCodeTokens };
})(this);
