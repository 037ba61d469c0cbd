// The page's arithmetic, in node: the contrast of colours, the readable accent, and the
// search for the largest text size that fits.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { CarderStyle: S } = require('../style.js');
const { CarderFit: F } = require('../fit.js');

const near = (a, b, eps) => Math.abs(a - b) <= eps;

test('contrast follows the WCAG ratio of relative luminances', () => {
  assert.ok(near(S.contrast([0, 0, 0], [255, 255, 255]), 21, 1e-9));
  assert.strictEqual(S.contrast([120, 30, 200], [120, 30, 200]), 1);
  assert.strictEqual(S.contrast([10, 200, 30], [240, 240, 250]), S.contrast([240, 240, 250], [10, 200, 30]));
  // The grey that just passes AA on white, and the one that just fails.
  assert.ok(S.contrast(S.hexRgb('#767676'), [255, 255, 255]) >= 4.5);
  assert.ok(S.contrast(S.hexRgb('#777777'), [255, 255, 255]) < 4.5);
});

test('an accent is made readable against every colour behind it, its hue kept', () => {
  const orange = S.hexRgb('#ff8a00');
  const cream = [[250, 244, 230], [236, 226, 205]];
  const fixed = S.readable(orange, cream, 4.5, true);
  for (const behind of cream) assert.ok(S.contrast(fixed, behind) >= 4.5);
  assert.ok(fixed[0] > fixed[1] && fixed[1] > fixed[2], 'still an orange');
  // Already readable: unchanged. Lighter on dark backgrounds.
  assert.deepStrictEqual(S.readable([0, 0, 0], cream, 4.5, true), [0, 0, 0]);
  const onNight = S.readable(S.hexRgb('#1a3a8a'), [[12, 18, 30]], 4.5, false);
  assert.ok(S.contrast(onNight, [12, 18, 30]) >= 4.5);
  // Nothing of that hue can reach the ratio against both black and white: the extreme is given.
  assert.deepStrictEqual(S.readable([128, 128, 128], [[0, 0, 0], [255, 255, 255]], 12, true), [0, 0, 0]);
});

test('the size search finds the largest passing size in few layouts', () => {
  for (const fits of [26, 27, 40, 67, 68]) {
    const tried = [];
    const passes = (s) => { tried.push(s); return s <= fits; };
    assert.strictEqual(F.largestPassing(26, 68, passes), fits);
    assert.ok(tried.length <= 8, `${tried.length} layouts for ${fits}`);
  }
  // Nothing fits: the smallest size, where the note is cut.
  assert.strictEqual(F.largestPassing(26, 68, () => false), 26);
  // A good guess is stepped up from; a guess too large halves the range below it.
  const tried = [];
  assert.strictEqual(F.largestPassing(26, 68, (s) => { tried.push(s); return s <= 41; }, () => 40), 41);
  assert.deepStrictEqual(tried, [68, 40, 41, 42]);
  assert.strictEqual(F.largestPassing(26, 68, (s) => s <= 30, () => 50), 30);
});
