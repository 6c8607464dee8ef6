// Page load times for the slow-link benchmark. With "cache": "fresh" each URL
// loads in a fresh browser context (empty cache, a first visit); with "keep"
// each round loads the URLs in order in one context, so later pages find the
// style sheets and scripts of earlier ones in the browser's own cache, as a
// user browsing the site would. Prints one JSON line
// {url: [load event end in ms, ...]}.
// Usage: node slowlink_load.js '{"proxy": "127.0.0.1:4321" | null, "urls": [...], "reps": 3,
//                                "cache": "fresh" | "keep"}'
'use strict';
const path = require('path');
const { chromium } = require(path.join(__dirname, '..', 'tests', 'e2e', 'node_modules',
  'playwright-core'));

async function main() {
  const cfg = JSON.parse(process.argv[2]);
  const launch = {
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-dev-shm-usage'],
  };
  if (cfg.proxy) launch.proxy = { server: 'http://' + cfg.proxy };
  const browser = await chromium.launch(launch);
  const out = {};
  const keep = cfg.cache === 'keep';
  for (let rep = 0; rep < cfg.reps; ++rep) {
    const round = keep ? await browser.newContext() : null;
    for (const url of cfg.urls) {
      const context = round || await browser.newContext();
      const page = await context.newPage();
      let ms = null;
      try {
        await page.goto(url, { waitUntil: 'load', timeout: 180000 });
        ms = await page.evaluate(() => performance.getEntriesByType('navigation')[0].loadEventEnd);
      } catch (e) {
        process.stderr.write(url + ': ' + e.message + '\n');
      }
      if (round) await page.close(); else await context.close();
      (out[url] = out[url] || []).push(ms);
    }
    if (round) await round.close();
  }
  await browser.close();
  process.stdout.write(JSON.stringify(out) + '\n');
}

main().catch((e) => { process.stderr.write(String(e) + '\n'); process.exit(1); });
