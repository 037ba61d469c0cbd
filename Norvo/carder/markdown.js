// The note as HTML: markdown-it set up for cards (no raw HTML, images as their description,
// links without addresses, code one element per line, task lists), front matter hidden, and
// the finishing touches on the rendered blocks (icons, scripts and languages, list number
// room, numeric table columns, no lone last word). The string helpers run in node too.
(function (root) {
  'use strict';

  const Text = root.CarderText || require('./text.js');
  const Formulas = root.CarderFormulas || require('./formulas.js');
  const SVG = 'http://www.w3.org/2000/svg';

  // --- Pure helpers ---------------------------------------------------------------------

  function indentOf(line) {
    let columns = 0;
    for (const c of line) {
      if (c === ' ') columns += 1;
      else if (c === '\t') columns += 4 - (columns % 4);
      else break;
    }
    return columns;
  }

  // What a fence's info string asks of its block, beyond the language: "{2,4-6}" marks lines,
  // "showLineNumbers" (or "ln") numbers them. The language is the first word outside the braces.
  function fenceInfo(info) {
    const words = String(info || '').replace(/\{[^}]*\}/, ' ').trim().split(/\s+/).filter(Boolean);
    const language = (words[0] || '').toLowerCase();
    const numbers = words.some(function (w) { return /^(showLineNumbers|ln)$/i.test(w); });
    const marked = new Set();
    const braces = /\{([^}]*)\}/.exec(String(info || ''));
    if (braces) {
      for (const part of braces[1].split(',')) {
        const range = /^\s*(\d+)\s*(?:-\s*(\d+))?\s*$/.exec(part);
        if (!range) continue;
        const from = Number(range[1]), to = Math.min(Number(range[2] || range[1]), from + 10000);
        for (let n = from; n <= to; n++) marked.add(n);
      }
    }
    return { language: language === 'showlinenumbers' || language === 'ln' ? '' : language, numbers: numbers, marked: marked };
  }

  // Splits highlighted HTML at line feeds, closing and reopening the spans a line is in,
  // and drops each line's leading white space (its indentation becomes a style). With
  // `how.numbers`, each line carries its number for the gutter; lines in `how.marked` are marked.
  function codeLines(code, html, escapeHtml, how) {
    const raw = code.split('\n');
    const parts = html === null ? [escapeHtml(code)] : html.split(/(<span[^>]*>|<\/span>)/);
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
      const marked = how && how.marked.has(i + 1);
      const number = how && how.numbers ? '<span class="line-number" aria-hidden="true">' + (i + 1) + '</span>' : '';
      return '<span class="code-line' + (marked ? ' marked' : '') + '" style="--indent:' + indent + 'ch">' + number +
             (l || '\u200b') + '</span>';
    }).join('');
  }

  function isBlank(c) { return c === ' ' || c === '\t'; }
  function trimBlank(line) {
    let a = 0, b = line.length;
    while (a < b && isBlank(line[a])) a++;
    while (b > a && isBlank(line[b - 1])) b--;
    return line.slice(a, b);
  }

  // The card never shows front matter: a "---" first line (after a byte-order mark, with
  // either line ending) up to its closing "---". Returns the note's body and the front
  // matter's lines.
  function splitFrontMatter(text) {
    text = text.replace(/^\uFEFF/, '');
    const firstEnd = text.indexOf('\n');
    if (trimBlank(text.slice(0, firstEnd < 0 ? text.length : firstEnd).replace(/\r$/, '')) !== '---') {
      return { body: text, front: [], found: false };
    }
    const lines = text.split(/\r?\n/);
    for (let i = 1; i < lines.length; i++) {
      if (trimBlank(lines[i]) === '---') {
        return { body: lines.slice(i + 1).join('\n'), front: lines.slice(1, i), found: true };
      }
    }
    return { body: text, front: [], found: false };
  }
  function withoutFrontMatter(text) { return splitFrontMatter(text).body; }

  // A note's lines are its lines on the card, as in note and chat apps; "breaks: false" in its
  // front matter asks for strict Markdown (a hard-wrapped note whose lines are one paragraph).
  function keepsTypedLines(front) {
    return !front.some(function (line) { return /^\s*breaks\s*:\s*false\s*$/i.test(line); });
  }

  // Table cells: a number (with its sign, currency or unit), or nothing to speak of.
  const NUMERIC = /^[+\-\u2212\u00b1~\u2248$\u20ac\u00a3\u00a5]?\s?\d[\d.,\u202f\u00a0 ]*(\s?(%|\u2030|[A-Za-z\u00b5]{1,4}|\u00d7))?$/;
  const NOTHING = /^[-\u2013\u2014\u2212\u00b7]?$/;
  function isNumericText(text) { return NUMERIC.test(text); }
  function isEmptyCellText(text) { return NOTHING.test(text); }

  // The text with its last two words joined by a no-break space, when the last is short
  // enough to be left alone on a line and the two together are short enough to wrap as one.
  const LAST_TWO_WORDS = /(\S+)[ \t\n]+(\S{1,8})[ \t\n]*$/;
  const EMOJI_ONLY = /^[\p{Extended_Pictographic}\u200d\ufe0f\p{Emoji_Modifier}]+$/u;
  function lastTwoWordsJoined(text) {
    const match = LAST_TWO_WORDS.exec(text);
    // An emoji never ends a paragraph alone on its line, whatever the word before it.
    const emoji = match && EMOJI_ONLY.test(match[2]) && match[1].length <= 24;
    if (!match || (!emoji && match[1].length + match[2].length > 18)) return text;
    const trailing = match[0].length - match[0].trimEnd().length;
    return text.slice(0, match.index) + match[1] + '\u00a0' + match[2] + text.slice(text.length - trailing);
  }

  // A long token (a URL, a path, an identifier) in pieces that may end a line: after "/",
  // before "?", "&", "=", ".", "-" and "_", never at its very start or end. Shorter tokens,
  // and tokens without such points, stay whole.
  // In running text a token with no "/" is not an address: it breaks only before "?", "&",
  // "=" and "_" (a hyphenated word breaks after its hyphens by itself; "frontend-senior /
  // -2025" or a line that starts with ".org" reads as something else). A table's narrow cell
  // takes every point (`inCell`).
  // A handle or a name with an underscore ("@northwind_design") is no address: in running text
  // it stays whole up to a length any line holds. An address never breaks inside its host
  // ("jobs." / "example.com" reads as two things): after it, at its slashes and marks.
  const LONG_TOKEN = 16, LONG_NAME = 25;
  function hostEnd(token) {
    const scheme = token.indexOf('://');
    const slash = token.indexOf('/', scheme >= 0 ? scheme + 3 : 0);
    return slash < 0 ? token.length : slash;
  }
  function tokenPieces(token, inCell) {
    const address = token.indexOf('/') >= 0;
    if (token.length < (inCell || address ? LONG_TOKEN : LONG_NAME)) return [token];
    const points = inCell || address ? '?&=.-_' : '?&=_';
    const host = address && !inCell ? hostEnd(token) : 0;
    const pieces = [];
    let start = 0;
    for (let i = 1; i < token.length - 1; i++) {
      const c = token[i];
      const breakBefore = points.indexOf(c) >= 0 && token[i - 1] !== c && token[i - 1] !== '/' && !(c === '.' && i < host);
      const breakAfter = token[i - 1] === '/' && c !== '/';
      if ((breakBefore || breakAfter) && i - start >= 2) {
        pieces.push(token.slice(start, i));
        start = i;
      }
    }
    pieces.push(token.slice(start));
    return pieces;
  }

  // Footnote definitions ("[^id]: text", one line each, outside code fences) taken out of
  // the note, in the order they stand.
  const FOOTNOTE = /^\[\^([^\]\s]+)\]:[ \t]+(.+)$/;
  function takeFootnotes(body) {
    const notes = new Map();
    let fenced = false;
    const kept = body.split('\n').filter(function (line) {
      if (/^\s{0,3}(```|~~~)/.test(line)) fenced = !fenced;
      const match = !fenced && FOOTNOTE.exec(line);
      if (!match || notes.has(match[1])) return true;
      notes.set(match[1], { text: match[2], number: 0 });
      return false;
    });
    return { body: kept.join('\n'), notes: notes };
  }

  // --- The renderer: small markdown-it plugins, each one rule of the card --------------------

  // The page never fetches a picture: the app serves those it could read (see `render`),
  // and any other shows its description. A picture alone on its line is a block as wide as
  // its column allows; one within a line is as tall as the text.
  function servedPictures(md) {
    const escape = md.utils.escapeHtml;
    md.renderer.rules.image = function (tokens, idx, options, env, self) {
      const token = tokens[idx];
      const alt = self.renderInlineAsText(token.children, options, env);
      const served = env.pictures && Object.prototype.hasOwnProperty.call(env.pictures, token.attrGet('src'))
        ? env.pictures[token.attrGet('src')] : null;
      if (!served || !/^norvo-image:/.test(String(served.uri)) || !(served.width > 0 && served.height > 0))
        return '<span class="image-alt"><span class="image-icon"></span>' + escape(alt || 'image') + '</span>';
      const block = token.meta && token.meta.alone;
      return '<img class="picture ' + (block ? 'picture-block' : 'picture-inline') + '" src="' + escape(served.uri) +
             '" alt="' + escape(alt) + '" data-width="' + Number(served.width) + '" data-height="' + Number(served.height) +
             '" style="aspect-ratio:' + Number(served.width) + '/' + Number(served.height) + '">';
    };
  }

  // Each typed line of an inline block that holds served pictures (and spaces) only: its
  // pictures stand alone, side by side when there are several, and the line breaks around
  // them go (the block ends the line already).
  function standPicturesAlone(children, pictures) {
    const isBreak = function (t) { return t && (t.type === 'softbreak' || t.type === 'hardbreak'); };
    const isEmpty = function (t) { return t && t.type === 'text' && !t.content.trim(); };
    const served = function (t) {
      return t.type === 'image' && Object.prototype.hasOwnProperty.call(pictures, t.attrGet('src'));
    };
    let start = 0;
    for (let i = 0; i <= children.length; i++) {
      if (i < children.length && !isBreak(children[i])) continue;
      const line = children.slice(start, i).filter(function (t) { return !isEmpty(t); });
      if (line.length && line.every(served)) {
        for (const t of line) t.meta = { alone: true };
        for (const edge of [children[i], children[start - 1]])
          if (isBreak(edge)) edge.type = 'text', edge.content = '';
      }
      start = i + 1;
    }
  }
  // A served picture with nothing else on its typed line stands alone.
  function picturesAlone(md) {
    md.core.ruler.after('inline', 'pictures-alone', function (state) {
      const pictures = state.env && state.env.pictures;
      if (!pictures) return;
      for (const block of state.tokens) {
        const children = block.type === 'inline' && block.children;
        if (children && children.some(function (t) { return t.type === 'image'; })) standPicturesAlone(children, pictures);
      }
    });
  }

  // Every target is taken as written: links never keep an address, and a picture's target
  // only names what the app may serve (the app refuses file: and the like, and says so).
  // Links keep their look but lose their address: a card is a picture.
  function linksWithoutAddresses(md) {
    md.validateLink = function () { return true; };
    md.renderer.rules.link_open = function () { return '<a class="link">'; };
  }

  // Code in the language its fence names, highlighted by highlight.js once the page has it;
  // null for plain code: without a language it is shown plain, never guessed.
  function highlighted(highlighter, code, language) {
    const hl = highlighter();
    if (!hl || !language || !hl.getLanguage(language)) return null;
    try {
      return hl.highlight(language, code, true).value;  // highlight.js 9: (language, code, ignoreIllegals)
    } catch (e) {
      return null;
    }
  }
  // Code blocks: one element per source line, so a wrapped line can hang under its own
  // indentation instead of restarting at the left edge.
  // The fence may number its lines (a muted gutter as wide as the last number) and mark some.
  function codeBlocks(md, highlighter) {
    const escape = md.utils.escapeHtml;
    md.renderer.rules.fence = function (tokens, idx) {
      const token = tokens[idx];
      const how = fenceInfo(token.info);
      const code = token.content.replace(/\n$/, '');
      const gutter = how.numbers ? ' numbered" style="--gutter:' + String(code.split('\n').length).length + 'ch' : '';
      return '<pre class="code' + gutter + '" dir="ltr"><code>' +
             codeLines(code, highlighted(highlighter, code, how.language), escape, how) + '</code></pre>';
    };
    md.renderer.rules.code_block = function (tokens, idx) {
      const code = tokens[idx].content.replace(/\n$/, '');
      return '<pre class="code" dir="ltr"><code>' + codeLines(code, null, escape) + '</code></pre>';
    };
  }

  // Raw HTML is shown as text, as typed: its quotes stay straight (typography is for prose).
  const TAG = /<\/?[A-Za-z][^<>]*>/g;
  function eachText(state, change) {
    for (const block of state.tokens) {
      if (block.type !== 'inline' || !block.children) continue;
      for (const token of block.children) if (token.type === 'text') token.content = change(token.content);
    }
  }
  function rawHtmlAsTyped(md) {
    md.core.ruler.before('smartquotes', 'raw-html-quotes', function (state) {
      eachText(state, function (text) {
        return text.replace(TAG, function (tag) { return tag.replace(/"/g, '\ue000').replace(/'/g, '\ue001'); });
      });
    });
    md.core.ruler.after('smartquotes', 'raw-html-quotes-back', function (state) {
      eachText(state, function (text) { return text.replace(/\ue000/g, '"').replace(/\ue001/g, "'"); });
    });
  }

  // HTML comments are the writer's notes to self: never drawn. One that opens a line runs
  // to the line that closes it; one that is never closed is text, so a stray "<!--"
  // cannot hide the rest of the note.
  function commentBlock(state, startLine, endLine, silent) {
    if (state.sCount[startLine] - state.blkIndent >= 4) return false;
    const start = state.bMarks[startLine] + state.tShift[startLine];
    if (state.src.slice(start, start + 4) !== '<!--') return false;
    let line = startLine;
    while (line < endLine &&
           state.src.slice(line === startLine ? start + 4 : state.bMarks[line], state.eMarks[line]).indexOf('-->') < 0)
      line++;
    if (line >= endLine) return false;
    if (!silent) state.line = line + 1;
    return true;
  }
  function commentInline(state) {
    if (state.src.slice(state.pos, state.pos + 4) !== '<!--') return false;
    const end = state.src.indexOf('-->', state.pos + 4);
    if (end < 0 || end + 3 > state.posMax) return false;
    state.pos = end + 3;
    return true;
  }
  function hiddenComments(md) {
    md.block.ruler.before('html_block', 'html-comment', commentBlock, { alt: ['paragraph', 'reference', 'blockquote', 'list'] });
    md.inline.ruler.before('html_inline', 'html-comment', commentInline);
  }

  // "==text==" is a highlight: a marker band behind the words.
  function highlightRun(state, silent) {
    const src = state.src, start = state.pos;
    if (src.charCodeAt(start) !== 0x3D || src.charCodeAt(start + 1) !== 0x3D || src.charCodeAt(start + 2) === 0x3D)
      return false;
    const end = src.indexOf('==', start + 2);
    if (end < 0 || end + 2 > state.posMax || end === start + 2) return false;
    if (/^\s|\s$/.test(src.slice(start + 2, end)) || src.charCodeAt(end + 2) === 0x3D) return false;
    if (!silent) {
      state.push('mark_open', 'mark', 1).attrs = [['class', 'highlight']];
      const max = state.posMax;
      state.pos = start + 2;
      state.posMax = end;
      state.md.inline.tokenize(state);
      state.posMax = max;
      state.push('mark_close', 'mark', -1);
    }
    state.pos = end + 2;
    return true;
  }
  function highlights(md) {
    md.inline.ruler.before('emphasis', 'highlight', highlightRun);
  }

  // Callouts: "[!KIND]" first in a quote, an optional "-" or "+" (folding elsewhere), then the title.
  const CALLOUT = /^\[!([A-Za-z][\w-]{0,30})\]([-+]?)[ \t]*/;
  const CALLOUT_KINDS = ['note', 'tip', 'important', 'warning', 'caution'];
  function calloutTitle(kind) {
    const words = kind.replace(/[-_]+/g, ' ').trim();
    return words.charAt(0).toUpperCase() + words.slice(1);
  }
  // The quote opened at tokens[i] as a callout, when its first paragraph starts with "[!KIND]":
  // its first line becomes the title (the kind's name when the line has nothing else).
  function makeCallout(state, i, escape) {
    const tokens = state.tokens;
    const inline = tokens[i + 2], children = inline.children || [];
    const first = children[0];
    const match = first && first.type === 'text' && CALLOUT.exec(first.content);
    if (!match) return;
    const kind = match[1].toLowerCase();
    first.content = first.content.slice(match[0].length);
    let breakAt = children.findIndex(function (t) { return t.type === 'softbreak' || t.type === 'hardbreak'; });
    if (breakAt < 0) breakAt = children.length;
    const titled = children.slice(0, breakAt).some(function (t) { return t.type !== 'text' || t.content.trim(); });
    const open = new state.Token('html_inline', '', 0);
    open.content = '<span class="callout-title"><span class="callout-icon" data-kind="' + escape(kind) + '"></span>' +
                   (titled ? '' : escape(calloutTitle(kind)));
    const close = new state.Token('html_inline', '', 0);
    close.content = '</span>';
    const rest = children.slice(breakAt + 1);
    inline.children = [open].concat(children.slice(0, breakAt), [close], rest);
    tokens[i].attrJoin('class', 'callout callout-' + (CALLOUT_KINDS.indexOf(kind) >= 0 ? kind : 'other'));
    if (!rest.length) tokens[i + 1].attrJoin('class', 'callout-only-title');
  }
  // "> [!NOTE] Title" opens a callout: a tinted box with the kind's icon and its title (the
  // kind's name when none is given); "[!NOTE]-" (folded elsewhere) is drawn open.
  function callouts(md) {
    const escape = md.utils.escapeHtml;
    md.core.ruler.after('inline', 'callouts', function (state) {
      const tokens = state.tokens;
      for (let i = 0; i + 2 < tokens.length; i++) {
        if (tokens[i].type === 'blockquote_open' && tokens[i + 1].type === 'paragraph_open') makeCallout(state, i, escape);
      }
    });
  }

  // "[^id]" of a footnote the note defines becomes its number; any other stays as typed.
  function footnoteReference(state, silent) {
    const src = state.src, at = state.pos;
    if (src.charCodeAt(at) !== 0x5B || src.charCodeAt(at + 1) !== 0x5E) return false;  // "[^"
    const end = src.indexOf(']', at + 2);
    const notes = state.env && state.env.footnotes;
    if (end < 0 || !notes) return false;
    const id = src.slice(at + 2, end);
    if (!notes.has(id) || /\s/.test(id)) return false;
    if (!silent) {
      const note = notes.get(id);
      if (!note.number) {
        state.env.cited.push(id);
        note.number = state.env.cited.length;
      }
      const token = state.push('html_inline', '', 0);
      token.content = '<sup class="footnote-ref">' + note.number + '</sup>';
    }
    state.pos = end + 1;
    return true;
  }
  function footnoteReferences(md) {
    md.inline.ruler.before('link', 'footnote-ref', footnoteReference);
  }

  // "- [ ] task" and "- [x] done" become check boxes.
  function checkBoxes(state) {
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
  }
  function taskLists(md) {
    md.core.ruler.after('inline', 'task-lists', checkBoxes);
  }

  // One markdown-it set up for cards. The plugins join in this order: rules placed after the
  // same rule run in the reverse order of joining, so the order is part of the output.
  function forCards(md, highlighter, katex) {
    return md.use(servedPictures).use(picturesAlone).use(Formulas.plugin, katex || function () { return null; })
      .use(linksWithoutAddresses).use(codeBlocks, highlighter).use(rawHtmlAsTyped).use(hiddenComments)
      .use(highlights).use(callouts).use(footnoteReferences).use(taskLists);
  }

  // The sources of the pictures among `tokens` (and their children), in order, each once.
  function pictureSources(tokens, targets) {
    for (const token of tokens || []) {
      if (token.type === 'image') {
        const src = token.attrGet('src');
        if (src && targets.indexOf(src) < 0) targets.push(src);
      }
      pictureSources(token.children, targets);
    }
    return targets;
  }

  // markdown-it set up for cards. `highlighter()` gives highlight.js and `katex()` KaTeX once
  // the page has them.
  function createRenderer(markdownit, highlighter, katex) {
    // A note's typed lines are its lines (`keepsTypedLines`), unless it asks for strict Markdown.
    const typed = forCards(markdownit({ html: false, linkify: false, typographer: true, breaks: true }), highlighter, katex);
    const strict = forCards(markdownit({ html: false, linkify: false, typographer: true, breaks: false }), highlighter, katex);
    return {
      // `pictures`: what the app serves for each picture the note names ({src: {uri, width,
      // height}}); a picture not in it shows its description.
      render: function (text, pictures) {
        const note = splitFrontMatter(String(text));
        const md = keepsTypedLines(note.front) ? typed : strict;
        // Footnotes: superscript numbers in the text, the notes at the end of the card.
        const footnotes = takeFootnotes(note.body);
        const env = { footnotes: footnotes.notes, cited: [], pictures: pictures || {} };
        let html = md.render(footnotes.body, env);
        if (env.cited.length) {
          html += '<ol class="footnotes">' + env.cited.map(function (id) {
            return '<li>' + md.renderInline(footnotes.notes.get(id).text) + '</li>';
          }).join('') + '</ol>\n';
        }
        return html;
      },
      // The pictures the note names, in order, each once (what the app is asked to serve).
      pictureTargets: function (text) {
        const note = splitFrontMatter(String(text));
        const md = keepsTypedLines(note.front) ? typed : strict;
        const env = { footnotes: takeFootnotes(note.body).notes, cited: [] };
        return pictureSources(md.parse(note.body, env), []);
      }
    };
  }

  // --- Finishing the rendered blocks (in the page) ------------------------------------------

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

  // Each callout kind's icon, drawn as strokes in the kind's colour (24-unit box).
  const CALLOUT_ICONS = {
    note: ['M12 3a9 9 0 1 0 0 18a9 9 0 1 0 0-18z', 'M12 11v6', 'M12 7.5v.01'],
    tip: ['M9 18h6', 'M10 21h4', 'M12 3a6 6 0 0 0-3.5 10.9c.6.5 1 1.2 1 2.1h5c0-.9.4-1.6 1-2.1A6 6 0 0 0 12 3z'],
    important: ['M4 4h16v12H9l-5 4z', 'M12 7.5v4', 'M12 13.5v.01'],
    warning: ['M12 3.5 2.5 20h19z', 'M12 10v4.5', 'M12 17.2v.01'],
    caution: ['M8.2 3h7.6L21 8.2v7.6L15.8 21H8.2L3 15.8V8.2z', 'M12 8v5', 'M12 16v.01'],
    other: ['M5 5h14v14H5z', 'M9 10h6', 'M9 14h4']
  };
  function addIcons(content) {
    for (const icon of content.querySelectorAll('.callout-icon')) {
      const kind = CALLOUT_KINDS.indexOf(icon.dataset.kind) >= 0 ? icon.dataset.kind : 'other';
      icon.appendChild(svg('0 0 24 24', CALLOUT_ICONS[kind], 'callout-svg'));
    }
    for (const box of content.querySelectorAll('.task-box.task-done'))
      box.appendChild(svg('0 0 16 16', ['M3.6 8.4 6.7 11.4 12.6 4.8'], 'task-tick'));
    for (const icon of content.querySelectorAll('.image-icon'))
      icon.appendChild(svg('0 0 24 24', ['M4 5h16v14H4z', 'M4 16l5-5 4 4 3-3 4 4', 'M15.5 9.5h.01'], 'image-svg'));
  }

  // Right-to-left paragraphs read right to left; East Asian text gets its language so the
  // fonts use its own glyph forms (and Korean keeps its words whole).
  // The direction of a text: that of its first letter (right to left for Hebrew, Arabic and
  // the scripts written like them), or nothing when it has no letter.
  const RTL_LETTER = /[\p{Script=Hebrew}\p{Script=Arabic}\p{Script=Syriac}\p{Script=Thaana}\p{Script=Nko}\p{Script=Adlam}]/u;
  function directionOf(text) {
    const first = /\p{L}/u.exec(text);
    return first ? (RTL_LETTER.test(first[0]) ? 'rtl' : 'ltr') : '';
  }
  function markScripts(content) {
    // A list takes the direction of its items, bullets and numbers on their side.
    for (const list of content.querySelectorAll('ul, ol')) {
      const dir = directionOf(list.textContent);
      if (dir) list.setAttribute('dir', dir);
    }
    // An item in another direction than its list keeps its bullet on the list's side (on the
    // other side it would hang off the card) and its text reads in its own direction, from
    // next to the bullet.
    for (const item of content.querySelectorAll('ul[dir] > li, ol[dir] > li')) {
      const own = directionOf(item.textContent), list = item.parentElement.getAttribute('dir');
      item.setAttribute('dir', list);
      if (!own || own === list) continue;
      // (An isolated run inside the item's line: a block of the other direction would take
      // the bullet to its own side.)
      const isolate = function (parent, from) {
        const text = document.createElement('span');
        text.className = 'other-direction';
        text.setAttribute('dir', own);
        const isBlock = function (n) { return n.nodeType === 1 && /^(UL|OL|P|PRE|BLOCKQUOTE|TABLE|DIV)$/.test(n.tagName); };
        while (from && !isBlock(from)) {
          const next = from.nextSibling;
          text.appendChild(from);
          from = next;
        }
        if (text.firstChild) parent.insertBefore(text, from);
      };
      isolate(item, item.firstChild);
      for (const p of item.querySelectorAll(':scope > p')) isolate(p, p.firstChild);
    }
    for (const block of content.querySelectorAll(Text.TEXT_BLOCKS + ', ul, ol, table')) {
      if (!block.hasAttribute('dir')) block.setAttribute('dir', 'auto');
      if (/^(UL|OL|TABLE|BLOCKQUOTE)$/.test(block.tagName)) continue;
      const text = block.textContent;
      if (Text.KANA.test(text)) block.setAttribute('lang', 'ja');
      else if (Text.HANGUL.test(text)) block.setAttribute('lang', 'ko');
      else if (Text.HAN.test(text)) block.setAttribute('lang', 'zh');
    }
  }

  // A paragraph, list item or typed line never ends on a lone short word.
  function endsLine(node) {
    let next = node.nextSibling;
    while (next && next.nodeType === Node.TEXT_NODE && !next.data.trim()) next = next.nextSibling;
    return next && next.nodeName === 'BR';
  }
  function keepLastWordsTogether(content) {
    for (const block of content.querySelectorAll('p, li')) {
      const own = Text.textNodes(block).filter(function (n) {
        return n.parentElement.closest('p, li') === block && !n.parentElement.closest('code, pre, .image-alt, .katex, .formula-source');
      });
      own.forEach(function (node, i) {
        if (i !== own.length - 1 && !endsLine(node)) return;
        const joined = lastTwoWordsJoined(node.data);
        if (joined !== node.data) node.data = joined;
      });
    }
  }

  // Ordered-list numbers stand in the list's padding: room for the widest one, measured in
  // the list's own font as the marker draws it ("1000. ", bold, tabular figures), and never
  // less than the room the sans and serif faces have always had.
  function sizeListNumbers(content) {
    // Figures are tabular, so the room depends only on how many there are: one measurement
    // (one layout) per count, however many lists the note has.
    const measured = new Map();
    for (const ol of content.querySelectorAll('ol')) {
      const start = parseInt(ol.getAttribute('start') || '1', 10) || 1;
      const last = start + ol.children.length - 1;
      const digits = String(Math.max(Math.abs(start), Math.abs(last))).length + (start < 0 ? 1 : 0);
      const item = ol.firstElementChild;
      if (!measured.has(digits) && item) {
        const probe = document.createElement('span');
        probe.style.cssText = 'position:absolute;visibility:hidden;white-space:pre;font-weight:700;' +
                              'font-variant-numeric:tabular-nums';
        probe.textContent = (start < 0 ? '-' : '') + '0'.repeat(digits - (start < 0 ? 1 : 0)) + '. ';
        item.appendChild(probe);
        const fontPx = parseFloat(getComputedStyle(item).fontSize) || 1;
        measured.set(digits, probe.getBoundingClientRect().width / fontPx + 0.3);
        probe.remove();
      }
      const room = Math.max(0.66 * digits + 0.95, measured.get(digits) || 0);
      ol.style.paddingInlineStart = room.toFixed(2) + 'em';
    }
  }

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
          if (isNumericText(text)) numbers++;
          else if (!isEmptyCellText(text)) others++;
        }
        if (!numbers || others) continue;
        for (const row of rows) if (row.cells[c]) row.cells[c].classList.add('numeric');
      }
    }
  }

  // URLs and other long tokens may break at their natural points, with no hyphen: a line
  // break opportunity (<wbr>) between their pieces. Code keeps its identifiers whole (a code
  // span moves to the next line as one); code blocks wrap on their own terms.
  // Tokens that read wrong split at their hyphen stay on one line: a range or a code with
  // figures ("EUR 75-95k", "senior-2025", "COVID-19") and a command-line option ("-flto",
  // "--coverage", which typography may have made "\u2013coverage").
  const WHOLE_TOKEN = /(^|[\s(])((?:--?|\u2013)[A-Za-z][\w=.+-]*|[\p{L}\p{N}]*\p{N}[\p{L}\p{N}]*(?:-[\p{L}\p{N}]+)+|[\p{L}\p{N}]+(?:-[\p{L}\p{N}]+)*-[\p{L}\p{N}]*\p{N}[\p{L}\p{N}]*)(?=$|[\s.,;:!?)])/gu;
  const HIGHLIGHTED_TOKEN = /(^|[\s(])([\p{L}\p{N}]+(?:-[\p{L}\p{N}]+)+)(?=$|[\s.,;:!?)])/gu;
  function keepTokensWhole(content) {
    for (const node of Text.textNodes(content)) {
      if (node.parentElement.closest('pre, .katex, .formula-source, .nobr')) continue;
      // A highlight's band reads as one: its hyphenated words ("dry-run") stay whole in it too.
      const pattern = node.parentElement.closest('mark.highlight') ? HIGHLIGHTED_TOKEN : WHOLE_TOKEN;
      Text.keepMatchesWhole(node, pattern, function (token) { return token.length <= 24 && token.length >= 3; });
    }
  }

  function breakLongTokens(content) {
    for (const node of Text.textNodes(content)) {
      if (node.parentElement.closest('pre, code, .katex, .formula-source, .nobr')) continue;
      const inCell = Boolean(node.parentElement.closest('td, th'));
      const parts = node.data.split(/(\s+)/);
      if (!parts.some(function (p) { return tokenPieces(p, inCell).length > 1; })) continue;
      const fragment = document.createDocumentFragment();
      for (const part of parts) {
        tokenPieces(part, inCell).forEach(function (piece, i) {
          if (i > 0) fragment.appendChild(document.createElement('wbr'));
          fragment.appendChild(document.createTextNode(piece));
        });
      }
      node.replaceWith(fragment);
    }
  }

  // A quote's source is a quiet byline, not a louder line after it: "— Name" (or "- Name",
  // which Markdown reads as a one-item list) right after a quote, or as the quote's last
  // paragraph or line.
  const BYLINE = /^\s*[\u2014\u2013-]\s*\S/, DASH_BYLINE = /^\s*[\u2014\u2013]\s*\S/;
  function markAttributions(content) {
    for (const quote of content.querySelectorAll('blockquote:not(.callout)')) {
      const next = quote.nextElementSibling;
      if (next && next.tagName === 'UL' && next.children.length === 1 && !next.querySelector('ul, ol, .task-box') &&
          next.textContent.trim().length <= 80) {
        const byline = document.createElement('p');
        byline.className = 'attribution';
        byline.append('\u2014\u2009', ...Array.from(next.firstElementChild.childNodes));
        next.replaceWith(byline);
      } else if (next && next.tagName === 'P' && BYLINE.test(next.textContent) && next.textContent.trim().length <= 80) {
        next.classList.add('attribution');
      }
      // "> — Name" as the quote's last paragraph, or its last line.
      const last = quote.lastElementChild;
      if (last && last.tagName === 'P' && last !== quote.firstElementChild && !last.querySelector('br') &&
          DASH_BYLINE.test(last.textContent) && last.textContent.trim().length <= 80) {
        last.classList.add('attribution');
        continue;
      }
      const breaks = last && last.tagName === 'P' ? last.querySelectorAll(':scope > br') : [];
      const lastBreak = breaks.length ? breaks[breaks.length - 1] : null;
      if (lastBreak) {
        const tail = [];
        for (let n = lastBreak.nextSibling; n; n = n.nextSibling) tail.push(n);
        const text = tail.map(function (n) { return n.textContent; }).join('');
        if (DASH_BYLINE.test(text) && text.trim().length <= 80) {
          const byline = document.createElement('span');
          byline.className = 'attribution';
          byline.append(...tail);
          lastBreak.replaceWith(byline);
        }
      }
    }
  }

  // A web address on a line of its own is a reference, not the message: it steps down in size
  // (and wraps at its natural points), so that it never decides how large the note is set.
  const URL_LINE = /^\s*(https?:\/\/|www\.)\S{16,}\s*$/;
  function quietURLLines(content) {
    for (const p of content.querySelectorAll('p')) {
      const nodes = Array.from(p.childNodes);
      let start = 0;
      for (let i = 0; i <= nodes.length; i++) {
        if (i < nodes.length && nodes[i].nodeName !== 'BR') continue;
        const line = nodes.slice(start, i);
        const text = line.map(function (n) { return n.textContent; }).join('');
        if (line.length && URL_LINE.test(text) && line.every(function (n) { return n.nodeType === 3 || n.nodeName === 'A'; })) {
          const span = document.createElement('span');
          span.className = 'url-line';
          line[0].before(span);
          span.append(...line);
        }
        start = i + 1;
      }
    }
  }

  // Pictures alone on their lines (consecutive ones, or several on one line), with no text
  // between them, make a row.
  function markPictureRows(content) {
    for (const p of content.querySelectorAll('p')) {
      if (p.querySelectorAll(':scope > img.picture-block').length >= 2 && !p.textContent.trim()) p.classList.add('picture-row');
    }
  }

  // The finishing touches on a note rendered into `content`.
  function finish(content) {
    markPictureRows(content);
    markAttributions(content);
    quietURLLines(content);
    addIcons(content);
    markScripts(content);
    keepLastWordsTogether(content);
    sizeListNumbers(content);
    markNumericColumns(content);
    keepTokensWhole(content);
    breakLongTokens(content);
  }

  const api = {
    frontLines: function (text) { return splitFrontMatter(String(text)).front; },
    splitFrontMatter: splitFrontMatter,
    createRenderer: createRenderer, finish: finish,
    codeLines: codeLines, withoutFrontMatter: withoutFrontMatter, isNumericText: isNumericText,
    isEmptyCellText: isEmptyCellText, lastTwoWordsJoined: lastTwoWordsJoined, tokenPieces: tokenPieces,
    WHOLE_TOKEN: WHOLE_TOKEN, HIGHLIGHTED_TOKEN: HIGHLIGHTED_TOKEN, EMOJI_ONLY: EMOJI_ONLY
  };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.CarderMarkdown = api;
})(this);
