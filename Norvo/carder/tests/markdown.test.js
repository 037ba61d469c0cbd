// The Markdown layer of the card page, in node: what HTML a note becomes, and the string
// helpers behind code blocks, front matter, numeric table columns and short last words.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const markdownit = require(process.env.NORVO_MARKDOWN_IT_JS || '/usr/share/javascript/markdown-it/markdown-it.js');
const M = require('../markdown.js');

const plain = M.createRenderer(markdownit, () => null);

test('notes become safe card HTML', () => {
  const html = plain.render('---\ntitle: secret\n---\n# Body\n\n<b onclick=x()>bold</b>\n\n' +
                            '- [x] done\n- [ ] open\n\n![a cat](https://example.invalid/cat.png) [site](https://x.example)');
  assert.ok(!html.includes('secret'));
  assert.ok(html.includes('&lt;b onclick=x()&gt;bold&lt;/b&gt;'));
  assert.ok(!html.includes('<img') && !html.includes('href'));
  assert.ok(html.includes('<span class="image-alt"><span class="image-icon"></span>a cat</span>'));
  assert.ok(html.includes('<a class="link">site</a>'));
  assert.match(html, /<li class="task task-item-done"><span class="task-box task-done"[^>]*><\/span>done<\/li>/);
  assert.match(html, /<li class="task"><span class="task-box"[^>]*><\/span>open<\/li>/);
  // An image without a description still says what it is; typography is smartened.
  assert.ok(plain.render('![](x.png) "quoted" -- dash').includes('image</span> \u201cquoted\u201d \u2013 dash'));
});

test('code is one element per line, indented by style, highlighted spans closed and reopened', () => {
  const hljs = {
    getLanguage: (name) => name === 'fake',
    highlight: () => ({ value: '<span class="k">if x:\n\tgo()</span>\n\n  end' }),
  };
  const html = M.createRenderer(markdownit, () => hljs).render('```Fake extra\nif x:\n\tgo()\n\n  end\n```');
  assert.strictEqual(html,
    '<pre class="code" dir="ltr"><code>' +
    '<span class="code-line" style="--indent:0ch"><span class="k">if x:</span></span>' +
    '<span class="code-line" style="--indent:4ch"><span class="k">go()</span></span>' +
    '<span class="code-line" style="--indent:0ch">\u200b</span>' +
    '<span class="code-line" style="--indent:2ch">end</span>' +
    '</code></pre>');
  // An unknown or missing language is shown plain, escaped, never guessed.
  assert.ok(plain.render('```\n<b> & x\n```').includes('&lt;b&gt; &amp; x'));
  assert.ok(plain.render('    indented\n').includes('<span class="code-line" style="--indent:0ch">indented</span>'));
});

test('a fence may number its lines and mark some; the language is still found', () => {
  const hljs = { getLanguage: (name) => name === 'py', highlight: (language, code) => ({ value: code }) };
  const html = M.createRenderer(markdownit, () => hljs).render('```py {2,4-5} showLineNumbers\na\nb\nc\nd\ne\nf\ng\nh\ni\nj\n```');
  assert.match(html, /^<pre class="code numbered" style="--gutter:2ch" dir="ltr">/);  // ten lines: two digits
  const lines = html.split('<span class="code-line').slice(1);
  assert.strictEqual(lines.length, 10);
  const marked = lines.map((l, i) => (l.startsWith(' marked') ? i + 1 : 0)).filter(Boolean);
  assert.deepStrictEqual(marked, [2, 4, 5]);
  assert.ok(lines[9].includes('<span class="line-number" aria-hidden="true">10</span>j'));
  // Marks alone, or "ln" alone; nonsense in the braces is ignored.
  const only = plain.render('```{1, x, 3-2}\nfirst\nsecond\n```');
  assert.ok(only.includes('<span class="code-line marked" style="--indent:0ch">first</span>'));
  assert.ok(!only.includes('line-number') && !only.includes('numbered'));
  assert.ok(plain.render('```ln\nx\n```').includes('<span class="line-number" aria-hidden="true">1</span>x'));
});

test('front matter is hidden only when it is closed', () => {
  assert.strictEqual(M.withoutFrontMatter('\uFEFF--- \r\na: b\r\n---\r\nBody'), 'Body');
  assert.strictEqual(M.withoutFrontMatter('---\nnot closed'), '---\nnot closed');
  assert.strictEqual(M.withoutFrontMatter('Text\n---\n'), 'Text\n---\n');
});

test('numeric cells and empty cells', () => {
  for (const t of ['42', '1,234.5', '-5 %', '\u22123', '$3.50', '12 ms', '3\u00d7', '\u20ac 1 000', '~7'])
    assert.ok(M.isNumericText(t), t);
  for (const t of ['abc', '12 apples and more', '1.2.3-beta x', 'v2', ''])
    assert.ok(!M.isNumericText(t), t);
  for (const t of ['', '-', '\u2014', '\u00b7']) assert.ok(M.isEmptyCellText(t), t);
  assert.ok(!M.isEmptyCellText('n/a'));
});

test('a short last word keeps company', () => {
  assert.strictEqual(M.lastTwoWordsJoined('the day begins anew.'), 'the day begins\u00a0anew.');
  assert.strictEqual(M.lastTwoWordsJoined('ends here  \n'), 'ends\u00a0here  \n');
  assert.strictEqual(M.lastTwoWordsJoined('a pair of extraordinarily long'), 'a pair of extraordinarily long');
  assert.strictEqual(M.lastTwoWordsJoined('word'), 'word');
  assert.strictEqual(M.lastTwoWordsJoined('the last word is internationalization'),
                     'the last word is internationalization');
  assert.strictEqual(M.lastTwoWordsJoined('東京の夜は静か'), '東京の夜は静か');
});

test('typed lines stay lines, unless the front matter asks for strict Markdown', () => {
  assert.ok(plain.render('**Ana:** done\n**Ben:** blocked').includes('done<br>\n<strong>Ben:</strong>'));
  const strict = plain.render('---\nbreaks: false\n---\nOne hard-wrapped\nparagraph');
  assert.ok(strict.includes('One hard-wrapped\nparagraph') && !strict.includes('<br>'));
});

test('long tokens break at their natural points, short ones stay whole', () => {
  // An address never breaks inside its host; no piece is of one letter.
  assert.deepStrictEqual(M.tokenPieces('https://docs.example.com/a/b?x=1&y=2'),
                         ['https://', 'docs.example.com/', 'a/', 'b?x', '=1', '&y', '=2']);
  assert.deepStrictEqual(M.tokenPieces('careers.northwind.example.com/apply/now'),
                         ['careers.northwind.example.com/', 'apply/', 'now']);
  assert.deepStrictEqual(M.tokenPieces('snake_case_identifier_name'), ['snake', '_case', '_identifier', '_name']);
  // A handle or name a line holds stays whole.
  for (const t of ['@northwind_design', '@northwind_studio_team']) assert.deepStrictEqual(M.tokenPieces(t), [t], t);
  for (const t of ['short.url/x', 'Pneumonoultramicroscopicsilicovolcanoconiosis', '--------------------', '...'])
    assert.deepStrictEqual(M.tokenPieces(t), [t], t);
  assert.strictEqual(M.tokenPieces('https://x.example/path/to/file.txt').join(''), 'https://x.example/path/to/file.txt');
  // Not an address: no line starts with "-2025" or ".org"; a table cell takes every point.
  for (const t of ['frontend-senior-2025', 'mail.verylongcompanyname.org'])
    assert.deepStrictEqual(M.tokenPieces(t), [t], t);
  assert.deepStrictEqual(M.tokenPieces('norvo-build-1042.tar.xz', true), ['norvo', '-build', '-1042', '.tar', '.xz']);
});

test('raw HTML shown as text keeps its straight quotes; prose gets curly ones', () => {
  const html = plain.render('Use <a href="x" title=\'t\'> for "links".');
  assert.ok(html.includes('&lt;a href=&quot;x&quot; title=\'t\'&gt;'), html);
  assert.ok(html.includes('\u201clinks\u201d'), html);
});

test('footnotes become raised numbers with the notes at the end', () => {
  const html = plain.render('Cards[^a] and sets[^2], again[^a], and [^none].\n\n[^2]: Second, *styled*.\n[^a]: First.\n');
  assert.ok(html.includes('Cards<sup class="footnote-ref">1</sup> and sets<sup class="footnote-ref">2</sup>, ' +
                          'again<sup class="footnote-ref">1</sup>, and [^none].'), html);
  assert.ok(html.endsWith('<ol class="footnotes"><li>First.</li><li>Second, <em>styled</em>.</li></ol>\n'), html);
  // A definition inside code is code; a note without references has no footnotes.
  assert.ok(!plain.render('```\n[^1]: not a note\n```\n').includes('footnotes'));
});

test('pictures the app serves become images; any other keeps its description', () => {
  const served = { 'cat.jpg': { uri: 'norvo-image://card/1.png', width: 800, height: 600 },
                   'bad.png': { uri: 'javascript:alert(1)', width: 10, height: 10 } };
  const note = 'Intro line\n![A cat](cat.jpg)\nCaption\n\nInline ![A cat](cat.jpg) here\n\n![Bad](bad.png)\n\n![Far](../x.png)';
  assert.deepStrictEqual(plain.pictureTargets(note), ['cat.jpg', 'bad.png', '../x.png']);
  const html = plain.render(note, served);
  // Alone on its line: a block, and the line breaks around it go; within a line: inline.
  assert.match(html, /<p>Intro line<img class="picture picture-block" src="norvo-image:\/\/card\/1.png" alt="A cat" data-width="800" data-height="600"[^>]*>Caption<\/p>/);
  assert.match(html, /Inline <img class="picture picture-inline"/);
  // Only the app's own addresses are shown; unserved pictures keep their line breaks.
  assert.ok(!html.includes('javascript'));
  assert.ok(html.includes('image-icon"></span>Bad</span>') && html.includes('image-icon"></span>Far</span>'));
  const unserved = plain.render('![One](a.png)\n![Two](b.png)');
  assert.match(unserved, /One<\/span><br>\n<span class="image-alt">/);
  // file: and other targets reach the app (which refuses them and says so), never the page.
  assert.deepStrictEqual(plain.pictureTargets('![x](file:///etc/passwd) ![y](data:image/png;base64,AA==)'),
                         ['file:///etc/passwd', 'data:image/png;base64,AA==']);
});

test('formulas follow the dollar rules and fall back to their source', () => {
  const F = require('../formulas.js');
  const calls = [];
  const katex = { renderToString: (tex, o) => { calls.push([tex, o.displayMode]); if (tex.includes('\\bad')) throw new Error('parse'); return '<span class="katex">' + tex + '</span>'; } };
  const withKatex = M.createRenderer(markdownit, () => null, () => katex);
  const html = withKatex.render('Costs $5 and $10, but $x^2$ is one and \\$y$ is not.\n\n$$\n\\int_0^1 x\\,dx\n$$\n\nBroken $\\bad{$ here\n\nNumbers $1$2');
  assert.deepStrictEqual(calls.map((c) => c[0]), ['x^2', '\\int_0^1 x\\,dx', '\\bad{']);
  assert.ok(html.includes('Costs $5 and $10, but <span class="formula formula-short"><span class="katex">x^2</span></span>'));
  // A display formula keeps its source, to be set again in lines where it is too wide.
  assert.ok(html.includes('<div class="formula formula-display" data-tex="\\int_0^1 x\\,dx">'), html);
  // Punctuation right after a short formula is glued to it.
  assert.ok(withKatex.render('where $x$: done').includes('<span class="formula-glued"><span class="formula formula-short">' +
                                                         '<span class="katex">x</span></span>:</span> done'));
  assert.ok(html.includes('<span class="formula-source formula-short">$\\bad{$</span>'));
  assert.ok(html.includes('Numbers $1$2'));  // a closing dollar is never followed by a digit
  // Without KaTeX in the page, a formula shows its source; the page loads KaTeX only for notes
  // that may hold one.
  assert.ok(plain.render('$x$').includes('<span class="formula-source formula-short">$x$</span>'));
  assert.strictEqual(F.mayHoldFormula('It costs $5 and $10.'), false);
  assert.strictEqual(F.mayHoldFormula('Let $x$ be'), true);
  assert.strictEqual(F.mayHoldFormula('$$\na\n$$'), true);
});

test('HTML comments are never drawn; an unclosed one, and one in code, is text', () => {
  const html = plain.render('Before <!-- inline note --> after\n\n<!--\nblock\n\nspanning a blank line\n-->\n\nNext');
  assert.ok(!/inline note|block|spanning|&lt;!--/.test(html), html);
  assert.ok(html.includes('Before') && html.includes('after') && html.includes('<p>Next</p>'));
  assert.ok(plain.render('Text <!-- never closed').includes('&lt;!-- never closed'));
  assert.ok(plain.render('`<!-- kept -->`').includes('&lt;!-- kept --&gt;'));
  assert.ok(plain.render('```\n<!-- kept -->\n```').includes('&lt;!-- kept --&gt;'));
  // A comment interrupts a paragraph, as it does in note apps.
  assert.ok(!plain.render('Line\n<!-- hidden -->\nMore').includes('hidden'));
});

test('callouts: kinds, titles, folding marks and unknown kinds', () => {
  const note = plain.render('> [!NOTE]\n> Plain body');
  assert.match(note, /<blockquote class="callout callout-note">/);
  assert.match(note, /<span class="callout-title"><span class="callout-icon" data-kind="note"><\/span>Note<\/span>Plain body/);
  assert.ok(!note.includes('[!NOTE]'));
  const titled = plain.render('> [!warning]- Mind the **gap**\n> Body text');
  assert.match(titled, /callout-warning/);
  assert.match(titled, /data-kind="warning"><\/span>Mind the <strong>gap<\/strong><\/span>Body text/);
  assert.ok(!titled.includes(']-'));
  assert.match(plain.render('> [!Kitchen-sink] Odd\n> x'), /callout callout-other"[^]*data-kind="kitchen-sink"/);
  // Only the title: the paragraph says so; a quote that merely mentions it stays a quote.
  assert.match(plain.render('> [!TIP] Just this'), /<p class="callout-only-title">/);
  assert.ok(!plain.render('> See [!NOTE] later').includes('callout'));
  assert.ok(!plain.render('[!NOTE] outside a quote').includes('callout'));
});

test('highlights mark their words, and == in prose or code is left alone', () => {
  assert.ok(plain.render('a ==bright *idea*== here').includes('a <mark class="highlight">bright <em>idea</em></mark> here'));
  assert.ok(!plain.render('if a == b and c == d').includes('<mark'));
  assert.ok(!plain.render('`x ==y==`').includes('<mark'));
  assert.ok(!plain.render('====').includes('<mark'));
  assert.ok(plain.render('==one== and ==two==').split('<mark').length === 3);
});

test('pictures on consecutive lines are each a block', () => {
  const served = { 'a.png': { uri: 'norvo-image:a', width: 40, height: 30 }, 'b.png': { uri: 'norvo-image:b', width: 40, height: 30 } };
  const html = plain.render('![A](a.png)\n![B](b.png)\n\nText after.', served);
  assert.strictEqual(html.split('picture-block').length - 1, 2, html);
  assert.ok(!html.includes('picture-inline'), html);
  // Several on one line are blocks too; a picture within words stays inline.
  const line = plain.render('![A](a.png) ![B](b.png)  ![A](a.png)\n\nSee ![B](b.png) here.', served);
  assert.strictEqual(line.split('picture-block').length - 1, 3, line);
  assert.strictEqual(line.split('picture-inline').length - 1, 1, line);
});
