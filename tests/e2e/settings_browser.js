// Drives the system's Chromium through the settings console for
// test_settings_console.py. Usage: node settings_browser.js <scenario> <json>
// Prints one JSON line with what the page showed.
'use strict';
const { chromium } = require('playwright-core');

const LAUNCH_ARGS = ['--no-sandbox', '--disable-gpu', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-dev-shm-usage'];

// Everything the user sees in the form, read from the live page.
async function readForm(page) {
  return page.evaluate(() => {
    const f = document.forms.frmMain;
    const value = (n) => f.elements[n].value;
    const img = document.querySelector('img[src*="elefant256.jpg"]');
    return {
      title: document.title,
      charset: document.characterSet,
      text: document.body.innerText,
      firstField: Array.from(f.elements).find((e) => e.tagName !== 'FIELDSET').name,
      action: f.getAttribute('action'),
      method: f.method,
      selected: {
        idJpgLvl: f.elements.idJpgLvl.selectedIndex,
        idBlockFlash: f.elements.idBlockFlash.selectedIndex,
        idBlockActiveX: f.elements.idBlockActiveX.selectedIndex,
        idBlockBanners: f.elements.idBlockBanners.selectedIndex,
      },
      options: {
        idJpgLvl: Array.from(f.elements.idJpgLvl.options).map((o) => o.text),
        idBlockFlash: Array.from(f.elements.idBlockFlash.options).map((o) => o.text),
      },
      fields: ['idLogin', 'idPassword', 'idTrafficCost', 'idProxyName', 'idProxyPort',
        'idProxyLogin', 'idProxyPassword', 'idForbiddenContent', 'idForbiddenUrls',
        'idChildClients', 'idServiceHost'].reduce((o, n) => { o[n] = value(n); return o; }, {}),
      types: { idPassword: f.elements.idPassword.type, idProxyPassword: f.elements.idProxyPassword.type },
      image: img ? { complete: img.complete, width: img.naturalWidth } : null,
      stopButton: Array.from(document.querySelectorAll('form')).filter(
        (x) => x.name !== 'frmMain').map((x) => ({ action: x.getAttribute('action'),
        method: x.method, button: x.querySelector('input[type=submit]').value })),
      loginLink: Array.from(document.links).filter(
        (a) => a.textContent === 'Получить логин и пароль').map((a) => a.href),
    };
  });
}

async function edit(page, args) {
  await page.goto(args.url);
  const before = await readForm(page);
  if (args.screenshot) await page.screenshot({ path: args.screenshot, fullPage: true });
  await page.selectOption('#idJpgLvl', '2');
  await page.selectOption('#idBlockFlash', '0');
  await page.selectOption('#idBlockBanners', '0');
  await page.fill('#idForbiddenContent', 'casino\n\nc++&q=1');
  await page.fill('#idForbiddenUrls', 'ads.one.example\nads.two.example\n');
  await page.fill('#idChildClients', '');
  await page.fill('#idProxyName', '127.0.0.3');
  await page.fill('#idProxyPort', '3128');
  await page.fill('#idProxyLogin', 'squser');
  await page.fill('#idProxyPassword', 'sq&pa=ss+');
  await page.fill('#idServiceHost', 'svc.example:8443');
  await page.fill('#idTrafficCost', '2.5');
  await Promise.all([page.waitForNavigation(), page.click('input[type=submit][value="Применить"]')]);
  const after = await readForm(page);
  return { before, after, url: page.url() };
}

async function forge(page, args) {
  await page.goto(args.url);
  // The hostile page submits its form on load and asks for /stop as an image.
  await page.waitForTimeout(3000);
  return { url: page.url() };
}

async function stop(page, args) {
  await page.goto(args.url);
  await Promise.all([page.waitForNavigation({ timeout: 20000 }),
    page.click('input[type=submit][value="  Х  "]')]);
  return { url: page.url(), text: await page.evaluate(() => document.body.innerText) };
}

async function main() {
  const [scenario, json] = process.argv.slice(2);
  const args = JSON.parse(json || '{}');
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: LAUNCH_ARGS });
  try {
    const page = await browser.newPage({ viewport: { width: 1100, height: 900 } });
    const run = { edit, forge, stop }[scenario];
    const result = await run(page, args);
    process.stdout.write(JSON.stringify(result) + '\n');
  } finally {
    await browser.close();
  }
}

main().catch((e) => { process.stderr.write(String(e && e.stack || e) + '\n'); process.exit(1); });
