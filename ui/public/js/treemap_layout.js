// Squarified treemap layout of one "children" page: tile rectangles whose
// areas are proportional to the items' sizes. The page holds at most 200
// children; whatever the directory's total holds beyond them (further pages,
// or files the scan folded into the directory) becomes one "rest" tile, so
// the tiles always add up to the directory's size.
import { hierarchy, treemap, treemapSquarify } from '/vendor/d3-hierarchy.js';

// parent: the directory's entry; items: its children page.
// Returns [{ entry, rest, x, y, width, height }], rest set on the rest tile
// (entry null), in the order of decreasing size; zero-size items get no tile.
export function layoutPage(parent, items, width, height, gap = 2) {
  let listed = 0;
  for (const item of items) listed += item.size;
  const rest = Math.max(0, parent.size - listed);
  const leaves = items.filter((item) => item.size > 0).map((entry) => ({ entry, value: entry.size }));
  if (rest > 0) leaves.push({ entry: null, value: rest, rest: { bytes: rest, more: items.length >= 200 } });
  if (leaves.length === 0 || width <= 0 || height <= 0) return [];
  const root = hierarchy({ children: leaves })
    .sum((node) => node.value ?? 0)
    .sort((a, b) => b.value - a.value);
  treemap().tile(treemapSquarify).size([width, height]).paddingInner(gap)(root);
  return root.leaves().map((node) => ({
    entry: node.data.entry,
    rest: node.data.rest ?? null,
    x: node.x0,
    y: node.y0,
    width: node.x1 - node.x0,
    height: node.y1 - node.y0,
  }));
}

// The tile nearest to `from` in a direction ('left', 'right', 'up', 'down'),
// or null: the closest centre among tiles that lie in that direction.
export function neighbour(tiles, from, direction) {
  const cx = from.x + from.width / 2;
  const cy = from.y + from.height / 2;
  let best = null;
  let bestScore = Infinity;
  for (const tile of tiles) {
    if (tile === from) continue;
    const dx = tile.x + tile.width / 2 - cx;
    const dy = tile.y + tile.height / 2 - cy;
    const ahead = { left: -dx, right: dx, up: -dy, down: dy }[direction];
    if (ahead <= 0) continue;
    const across = direction === 'left' || direction === 'right' ? Math.abs(dy) : Math.abs(dx);
    const score = ahead + 2 * across;
    if (score < bestScore) {
      bestScore = score;
      best = tile;
    }
  }
  return best;
}
