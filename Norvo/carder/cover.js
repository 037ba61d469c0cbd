// A cover for a set of cards: the note's first heading as a hero, with the subtitle and tags
// its front matter gives, over a quiet cue to swipe. The heading leaves the content cards; the
// signature, when the style has one, stays in its corner.
(function (root) {
  'use strict';

  const Fit = root.CarderFit;

  // "subtitle: ..." and "tags: a, b" (or "[a, b]") from the note's front matter lines.
  function frontValues(front) {
    const out = { subtitle: '', tags: [] };
    for (const line of front) {
      const m = /^\s*(subtitle|tags)\s*:\s*(.*?)\s*$/i.exec(line);
      if (!m) continue;
      const value = m[2].replace(/^(["'])(.*)\1$/, '$2');
      if (m[1].toLowerCase() === 'subtitle') out.subtitle = value;
      else out.tags = value.replace(/^\[|\]$/g, '').split(',').map(function (t) {
        return t.trim().replace(/^(["'])(.*)\1$/, '$2').replace(/^#/, '');
      }).filter(Boolean).slice(0, 6);
    }
    return out;
  }

  // Takes the cover's title out of `content`: its first heading, else a short first paragraph.
  // Returns the title's HTML, or null when the note has neither (then there is no cover).
  function takeTitle(content) {
    const first = content.firstElementChild;
    let title = content.querySelector('h1, h2, h3, h4, h5, h6');
    if (!title && first && first.tagName === 'P' && first.textContent.trim().length <= 120 && !first.querySelector('img'))
      title = first;
    if (!title || !title.textContent.trim()) return null;
    const html = title.innerHTML;
    title.remove();
    return html;
  }

  const cover = function () { return document.getElementById('cover'); };

  // Fills the cover and sets its title as large as the frame allows (from the body's floor to a
  // hero's size), the subtitle and tags in proportion. `c` is what the page prepared.
  function layOut(c, titleHtml, front) {
    const el = cover(), values = frontValues(front);
    el.querySelector('.cover-title').innerHTML = titleHtml;
    const subtitle = el.querySelector('.cover-subtitle'), tags = el.querySelector('.cover-tags');
    subtitle.textContent = root.CarderMarkdown.lastTwoWordsJoined(values.subtitle);
    subtitle.hidden = !values.subtitle;
    tags.textContent = '';
    for (const tag of values.tags) {
      const chip = document.createElement('span');
      chip.className = 'cover-tag';
      chip.textContent = '#' + tag;
      tags.appendChild(chip);
    }
    tags.hidden = !values.tags.length;
    el.hidden = false;
    // From a step above the body's floor to a hero's size (the body's largest, 68 units, times 2.3).
    const min = Math.ceil(c.min * 1.4), max = Math.max(min, Math.floor(c.max * 2.3));
    const frame = c.frame.getBoundingClientRect();
    const fits = function (px) {
      el.style.setProperty('--cover-px', px + 'px');
      return el.scrollHeight <= frame.height + 0.5 && el.scrollWidth <= el.clientWidth + 0.5;
    };
    fits(Fit.largestPassing(min, max, fits));
    void el.offsetHeight;
  }

  // The cover in view, or the content cards.
  function show(on) {
    const el = cover();
    el.hidden = !on;
    document.querySelector('.card-frame').style.visibility = on ? 'hidden' : '';
    document.getElementById('swipe').hidden = !on;
  }

  function reset() {
    cover().hidden = true;
    document.querySelector('.card-frame').style.visibility = '';
    document.getElementById('swipe').hidden = true;
  }

  root.CarderCover = { frontValues: frontValues, takeTitle: takeTitle, layOut: layOut, show: show, reset: reset };
})(this);
