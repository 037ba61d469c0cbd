// The card page: window.tazuCard(markdown, theme, width, height, wordmark, scale)
// lays out one finished card in the top-left width x height rectangle before it returns.
(function () {
  'use strict';

  const THEMES = ['paper', 'ink', 'sky'];
  const md = window.markdownit({ html: false, linkify: false, typographer: true, breaks: false });

  // Images are never fetched: a card shows their description instead.
  md.renderer.rules.image = function (tokens, idx, options, env, self) {
    const alt = self.renderInlineAsText(tokens[idx].children, options, env);
    return '<span class="image-alt">' + md.utils.escapeHtml(alt || 'image') + '</span>';
  };
  // Links keep their look but lose their address: a card is a picture.
  md.renderer.rules.link_open = function () { return '<a class="link">'; };

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

  // Front matter opens on the very first line and needs its closing "---".
  function withoutFrontMatter(text) {
    const lines = text.split('\n');
    if (trimBlank(lines[0]) !== '---') return text;
    for (let i = 1; i < lines.length; i++) {
      if (trimBlank(lines[i]) === '---') return lines.slice(i + 1).join('\n');
    }
    return text;
  }

  function fits(frame, content) {
    return content.scrollHeight <= frame.clientHeight + 0.5 && content.scrollWidth <= frame.clientWidth + 0.5;
  }

  function fitsAt(frame, content, size) {
    content.style.fontSize = size + 'px';
    return fits(frame, content);
  }

  // The largest whole-pixel base size in [min, max] at which the note fits. Whole pixels
  // keep the engine's font caches warm while the user types; an area-based first guess
  // means only a few layouts are needed.
  function fittedSize(frame, content, min, max) {
    max = Math.floor(max);
    min = Math.ceil(min);
    if (fitsAt(frame, content, max)) return max;
    const needed = content.scrollHeight, room = frame.clientHeight;
    let size = Math.max(min, Math.min(max - 1, Math.floor(max * Math.sqrt(room / needed))));
    if (fitsAt(frame, content, size)) {
      while (size + 1 < max && fitsAt(frame, content, size + 1)) size++;
      return size;
    }
    let lo = min, hi = size;  // lo may not fit either: then the note is cut at the minimum
    while (hi - lo > 1) {
      const mid = Math.floor((lo + hi) / 2);
      if (fitsAt(frame, content, mid)) lo = mid; else hi = mid;
    }
    return lo;
  }

  window.tazuCard = function (markdown, theme, width, height, wordmark, scale) {
    const card = document.getElementById('card');
    const frame = card.querySelector('.card-frame');
    const content = document.getElementById('content');
    const mark = document.getElementById('wordmark');
    if (!(isFinite(scale) && scale > 0)) scale = 1;

    card.className = 'card theme-' + (THEMES.indexOf(theme) >= 0 ? theme : 'paper');
    card.style.width = width + 'px';
    card.style.height = height + 'px';

    // One unit that grows with the card's area, so every preset looks alike.
    const unit = Math.sqrt(width * height) / 1080;
    const pad = Math.round(Math.min(width, height) * 0.09);
    card.style.setProperty('--pad', pad + 'px');
    card.style.setProperty('--unit', unit + 'px');

    mark.hidden = !wordmark;
    content.classList.remove('overflowing');
    content.innerHTML = md.render(withoutFrontMatter(String(markdown)));
    content.classList.toggle('single-heading', content.children.length === 1 && /^H[1-6]$/.test(content.firstElementChild.tagName));

    const base = fittedSize(frame, content, 22 * unit, 64 * unit);
    content.style.fontSize = (base * scale) + 'px';
    content.classList.toggle('overflowing', !fits(frame, content));
    void content.offsetHeight;  // finish layout before the snapshot
    return true;
  };
})();
