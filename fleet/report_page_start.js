// The last part of the page's script: once every part is read, it draws the
// summaries and the table, and notes when the first frame is out.

drawHeader();
drawUnmatched();
drawTotals();
drawKits();
drawRollout();
drawProducts();
drawWarnings();
drawHead();
applyFilter();
// When the first frame after drawing is out: the load-and-draw time.
requestAnimationFrame(() => setTimeout(() => {
  document.documentElement.dataset.drawnMs = Math.round(performance.now());
}, 0));
