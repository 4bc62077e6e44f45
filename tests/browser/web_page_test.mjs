// The web page in a real browser: `tolvex web` serves it on a loopback address and headless
// chromium, driven through puppeteer-core, types the code, sends two files through the file
// input and downloads the offered file, as a phone or a computer without Tolvex would.
//
//   node web_page_test.mjs TOLVEX_BINARY BUILD_DIR
//
// Exit 0 when every check holds, 1 when one fails, 77 (skipped) when chromium or the test's
// packages are not installed. Screenshots of each state go to BUILD_DIR/screenshots.
import {spawn} from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const kChromium = '/usr/bin/chromium';
const kAddress = '127.0.0.3';
const kPort = 18530;
// The whole run, and one step that waits on the browser or the program.
const kRunLimitMs = 55000;
const kStepLimitMs = 15000;

const here = path.dirname(fileURLToPath(import.meta.url));
const [binary, buildDir] = process.argv.slice(2);
if (!binary || !buildDir) {
    console.error('usage: node web_page_test.mjs TOLVEX_BINARY BUILD_DIR');
    process.exit(2);
}
if (!fs.existsSync(kChromium)) {
    console.log(`SKIPPED: ${kChromium} is not installed (scripts/setup.sh installs chromium)`);
    process.exit(77);
}
if (!fs.existsSync(path.join(here, 'node_modules', 'puppeteer-core'))) {
    console.log(
        'SKIPPED: tests/browser/node_modules is missing (scripts/setup.sh runs npm ci there)');
    process.exit(77);
}
const {default: puppeteer} = await import('puppeteer-core');

let passed = 0;
let failed = 0;
function check(ok, what, detail = '') {
    if (ok) {
        passed += 1;
        console.log(`ok - ${what}`);
    } else {
        failed += 1;
        console.log(`not ok - ${what}${detail ? `: ${detail}` : ''}`);
    }
    return ok;
}

// Waits until test() gives a truthy value, polling; the value, or null after the bound.
async function waitFor(test, limitMs = kStepLimitMs) {
    const end = Date.now() + limitMs;
    for (;;) {
        const value = await test();
        if (value)
            return value;
        if (Date.now() > end)
            return null;
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
}

const temp = fs.mkdtempSync(path.join(os.tmpdir(), 'tolvex-web-page-'));
const folder = (name) => {
    const made = path.join(temp, name);
    fs.mkdirSync(made, {recursive: true});
    return made;
};
const home = folder('home');
const receive = folder('receive');
const sources = folder('sources');
const downloads = folder('downloads');
const screenshots = path.join(buildDir, 'screenshots');
fs.mkdirSync(screenshots, {recursive: true});

const big = {
    name: '照片 第一张.bin',
    bytes: crypto.randomBytes(3 * 1024 * 1024 + 7)
};
const small = {
    name: 'notes.txt',
    bytes: crypto.randomBytes(100 * 1024)
};
const offered = {
    name: '会议纪要 12月.bin',
    bytes: crypto.randomBytes(200 * 1024 + 3)
};
for (const file of [big, small, offered])
    fs.writeFileSync(path.join(sources, file.name), file.bytes);
// A file of the small one's name already stands in the receive folder: the upload gets a
// numbered name, which the page has to show.
const standing = crypto.randomBytes(10);
fs.writeFileSync(path.join(receive, small.name), standing);

let program = null;
let browser = null;
function stopAll() {
    if (program && program.exitCode === null && program.signalCode === null)
        program.kill('SIGKILL');
    if (browser)
        browser.process()?.kill('SIGKILL');
    fs.rmSync(temp, {recursive: true, force: true});
}
process.on('exit', stopAll);
const watchdog = setTimeout(() => {
    console.log(`not ok - the test did not finish within ${kRunLimitMs / 1000} s`);
    stopAll();
    process.exit(1);
}, kRunLimitMs);

// The program as the other command-line tests run it: its own home, a loopback address, no
// display.
function startProgram() {
    const environment = {...process.env, HOME: home, LANG: 'C.UTF-8'};
    environment.XDG_CONFIG_HOME = path.join(home, 'config');
    environment.XDG_DATA_HOME = path.join(home, 'data');
    for (const name of ['DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM'])
        delete environment[name];
    const args = [
        '--address', kAddress, '--data-dir', path.join(home, 'data-dir'), 'web', '--to', receive,
        '--share', path.join(sources, offered.name), '--port', String(kPort)
    ];
    const child =
        spawn(binary, args, {cwd: home, env: environment, stdio: ['ignore', 'pipe', 'pipe']});
    const output = {out: '', err: ''};
    child.stdout.setEncoding('utf8');
    child.stderr.setEncoding('utf8');
    child.stdout.on('data', (text) => {
        output.out += text;
    });
    child.stderr.on('data', (text) => {
        output.err += text;
    });
    return {child, output};
}

async function textOf(page, selector) {
    return page.$eval(selector, (element) => element.textContent.trim());
}
async function visible(page, selector) {
    return page.$eval(selector, (element) => !element.closest('[hidden]'));
}
async function shoot(page, name) {
    await page.screenshot({path: path.join(screenshots, `web_page_${name}.png`), fullPage: true});
}
async function sameBytes(file, bytes) {
    try {
        return Buffer.compare(fs.readFileSync(file), bytes) === 0;
    } catch {
        return false;
    }
}

async function run() {
    const started = startProgram();
    program = started.child;
    const announced = await waitFor(() => {
        const url = /网页地址:(http:\/\/[0-9.]+:[0-9]+\/)/.exec(started.output.out);
        const code = /代码:([0-9]{6})/.exec(started.output.out);
        return (url && code) || program.exitCode !== null ? {url: url?.[1], code: code?.[1]} : null;
    });
    if (!check(
            announced?.url && announced?.code, 'the program prints the address and the code',
            `stdout: ${started.output.out} stderr: ${started.output.err}`)) {
        return;
    }
    const {url, code} = announced;
    check(url === `http://${kAddress}:${kPort}/`, 'the address is the one asked for', url);

    browser = await puppeteer.launch({
        executablePath: kChromium,
        headless: true,
        timeout: kStepLimitMs,
        protocolTimeout: kStepLimitMs,
        userDataDir: folder('profile'),
        // No proxy from the environment between the browser and the loopback page, and no name
        // resolves: the browser's own services reach no host off this machine.
        args: [
            '--no-proxy-server', `--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE ${kAddress}`,
            '--no-first-run', '--lang=zh-CN', ...(process.getuid() === 0 ? ['--no-sandbox'] : [])
        ],
    });
    const page = await browser.newPage();
    page.setDefaultTimeout(kStepLimitMs);
    await page.setViewport({width: 1024, height: 768});
    // Anything the page's policy refuses (an inline script or style) or a script error shows
    // here.
    const complaints = [];
    page.on('pageerror', (error) => complaints.push(String(error)));
    page.on('console', (message) => {
        if (message.type() === 'error' && !/status of (401|403|404|429)/.test(message.text())) {
            complaints.push(message.text());
        }
    });

    // The code.
    await page.goto(url, {waitUntil: 'load'});
    await page.waitForSelector('#login:not([hidden])');
    check(
        await page.$eval('html', (element) => element.lang) === 'zh-CN',
        'the page says it is Chinese');
    check(await page.title() === 'Tolvex 网页传输', 'the title', await page.title());
    check(await textOf(page, 'label[for=code]') === '请输入电脑上显示的六位代码', 'the code label');
    check(
        await page.$eval('#code', (element) => element.inputMode) === 'numeric',
        'phones show a numeric keyboard for the code');
    await shoot(page, 'code');

    const wrong = String((Number(code) + 1) % 1000000).padStart(6, '0');
    await page.type('#code', wrong);
    await page.click('#login-button');
    const refused = await waitFor(
        async () =>
            (await visible(page, '#login-message')) && (await textOf(page, '#login-message')));
    check(refused === '代码不对,请核对电脑上显示的六位代码。', 'a wrong code is refused', refused);
    check(
        await visible(page, '#login') && !(await visible(page, '#send')),
        'a wrong code stays at the code');
    await shoot(page, 'wrong_code');

    await page.$eval('#code', (element) => {
        element.value = '';
    });
    await page.type('#code', code);
    await page.click('#login-button');
    await page.waitForSelector('#send:not([hidden])');
    await page.waitForSelector('#offered a');
    check(true, 'the right code is accepted');
    check(await textOf(page, '#send h2') === '发送文件到这台电脑', 'the sending part\'s heading');

    // The offered file, downloaded into a folder of the test's own.
    const links = await page.$$eval(
        '#offered a',
        (all) => all.map((link) => ({name: link.textContent, href: link.getAttribute('href')})));
    check(
        links.length === 1 && links[0].name === offered.name &&
            /^\/api\/file\/[0-9]+$/.test(links[0].href),
        'the offered file is listed by name with a link by its id', JSON.stringify(links));
    await shoot(page, 'files');
    const cdp = await browser.target().createCDPSession();
    await cdp.send(
        'Browser.setDownloadBehavior',
        {behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true});
    const download = {};
    cdp.on('Browser.downloadWillBegin', (event) => {
        download.guid = event.guid;
        download.name = event.suggestedFilename;
    });
    cdp.on('Browser.downloadProgress', (event) => {
        if (event.state !== 'inProgress')
            download.state = event.state;
    });
    await page.click('#offered a');
    await waitFor(() => download.state);
    check(download.state === 'completed', 'the download completes', download.state);
    check(
        download.name === offered.name, 'the download has the offered file\'s name', download.name);
    check(
        download.guid && await sameBytes(path.join(downloads, download.guid), offered.bytes),
        'the downloaded file is exact');

    // Two files through the file input: one request each, in order. The upload is slowed at
    // first so the bars are seen part-way.
    const network = await page.createCDPSession();
    await network.send('Network.enable');
    await network.send('Network.emulateNetworkConditions', {
        offline: false,
        latency: 0,
        downloadThroughput: -1,
        uploadThroughput: 1024 * 1024,
    });
    const input = await page.$('#files');
    await input.uploadFile(path.join(sources, big.name), path.join(sources, small.name));
    const midway = await waitFor(() => page.evaluate(() => {
        const bar = document.querySelector('#uploads progress');
        const all = document.querySelector('#overall-bar');
        return bar && bar.value > 0.1 && bar.value < 0.9 && all.value > 0 && all.value < bar.value ?
            {file: bar.value, overall: all.value} :
            null;
    }));
    check(
        midway, 'the file\'s bar and the overall bar move while it uploads',
        JSON.stringify(midway));
    await shoot(page, 'uploading');
    await network.send('Network.emulateNetworkConditions', {
        offline: false,
        latency: 0,
        downloadThroughput: -1,
        uploadThroughput: -1,
    });
    const overall = await waitFor(async () => {
        const text = await textOf(page, '#overall-text');
        return text.startsWith('全部完成') || text.startsWith('完成') ? text : null;
    }, 30000);
    check(overall === '全部完成', 'both uploads finish', overall);
    const statuses = await page.$$eval(
        '#uploads li', (items) => items.map((item) => ({
                                                name: item.querySelector('.name').textContent,
                                                status: item.querySelector('.status').textContent,
                                                bar: item.querySelector('progress').value,
                                            })));
    check(
        JSON.stringify(statuses) === JSON.stringify([
            {name: big.name, status: '已发送', bar: 1},
            {name: small.name, status: '已发送,保存为 notes(1).txt', bar: 1},
        ]),
        'each file shows its bar full and the name it was saved under', JSON.stringify(statuses));
    check(await page.$eval('#overall-bar', (bar) => bar.value) === 1, 'the overall bar is full');
    check(
        await sameBytes(path.join(receive, big.name), big.bytes),
        'the Chinese-named file arrived exact');
    check(
        await sameBytes(path.join(receive, 'notes(1).txt'), small.bytes),
        'the second file arrived exact');
    check(
        await sameBytes(path.join(receive, small.name), standing),
        'the file standing there is kept');
    const left = fs.readdirSync(receive).sort();
    check(
        JSON.stringify(left) === JSON.stringify([small.name, 'notes(1).txt', big.name].sort()),
        'nothing else is left in the receive folder', JSON.stringify(left));
    await shoot(page, 'uploaded');

    // The same session on a phone's screen: one column, nothing wider than the screen.
    const phone = await browser.newPage();
    phone.setDefaultTimeout(kStepLimitMs);
    await phone.setViewport(
        {width: 390, height: 844, deviceScaleFactor: 2, isMobile: true, hasTouch: true});
    await phone.goto(url, {waitUntil: 'load'});
    await phone.waitForSelector('#offered a');
    check(
        await phone.evaluate(() => document.documentElement.scrollWidth) <= 390,
        'the page fits a phone\'s width');
    const tapHeight =
        await phone.$eval('#offered a', (link) => link.getBoundingClientRect().height);
    check(tapHeight >= 40, 'the download link is large enough for a finger', String(tapHeight));
    await shoot(phone, 'phone_files');
    await phone.close();

    // The session ends (as when the page is started again): the next request goes back to the
    // code.
    const cookies = await page.cookies();
    check(
        cookies.some((cookie) => cookie.name === 'tvx-session' && cookie.httpOnly),
        'the session cookie is HttpOnly');
    await page.deleteCookie(...cookies);
    await page.click('#refresh');
    await page.waitForSelector('#login:not([hidden])');
    check(
        await textOf(page, '#login-message') === '登录已失效,请重新输入代码。',
        'without the session the page asks for the code again');

    // Wrong codes until the address is shut out: the page counts the seconds down. On a phone
    // in a fresh profile, so the code state on a phone's screen is seen too.
    const fresh = await browser.createBrowserContext();
    const locked = await fresh.newPage();
    locked.setDefaultTimeout(kStepLimitMs);
    await locked.setViewport(
        {width: 390, height: 844, deviceScaleFactor: 2, isMobile: true, hasTouch: true});
    await locked.goto(url, {waitUntil: 'load'});
    await locked.waitForSelector('#login:not([hidden])');
    await shoot(locked, 'phone_code');
    let lockText = '';
    for (let attempt = 0; attempt < 6 && !lockText.includes('秒后再试'); ++attempt) {
        await locked.$eval('#code', (element) => {
            element.value = '';
        });
        await locked.$eval('#login-message', (element) => {
            element.textContent = '';
        });
        await locked.type('#code', wrong);
        await locked.click('#login-button');
        lockText = await waitFor(async () => {
                       const text = await textOf(locked, '#login-message');
                       const busy =
                           await locked.$eval('#login-button', (button) => button.disabled);
                       return text && (!busy || text.includes('秒后再试')) ? text : null;
                   }) ??
            '';
    }
    check(
        /^代码输错次数太多,请在 [0-9]+ 秒后再试。$/.test(lockText),
        'after five wrong codes the page says for how many seconds it is locked', lockText);
    check(
        await locked.$eval('#login-button', (button) => button.disabled),
        'the button waits while the address is locked');
    await shoot(locked, 'phone_locked');
    await fresh.close();

    check(
        complaints.length === 0, 'the page ran without errors or refused resources',
        complaints.join(' | '));

    // Interrupted, the program ends the page and leaves by itself, the sanitizers' checks at its
    // exit included.
    program.kill('SIGINT');
    const ended = await waitFor(() => program.exitCode !== null || program.signalCode !== null);
    check(
        ended && program.exitCode === 0, 'the program ends cleanly when interrupted',
        `exit ${program.exitCode}, signal ${program.signalCode}: ${started.output.err}`);
}

let crashed = null;
try {
    await run();
} catch (error) {
    crashed = error;
}
if (crashed)
    check(false, 'the run went to its end', crashed.stack ?? String(crashed));
clearTimeout(watchdog);
try {
    await browser?.close();
} catch {
    // Killed below.
}
stopAll();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
