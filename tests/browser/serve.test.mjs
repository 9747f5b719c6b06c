// The page of `tunedex serve` in a real Chromium, against the real host and plug-in, with station
// servers stood in for on 127.0.0.1. The flows run in order on one server and one browser.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import { after, before, beforeEach, describe, it } from 'node:test';
import { browser, png, runTunedex, scratchProfile, serve, shot, standIn } from './support.mjs';

const HOSTILE = '<img src=x onerror=alert(1)>';
const GENRES = ['jazz', 'rock', 'classical', 'news'];
const BITRATES = [96, 128, 192, 256, 320];
const WAIT = { timeout: 20_000 };

let base = '';
const stations = () => [
    ...Array.from({ length: 60 }, (_, i) => ({
        name: `Harbour ${GENRES[i % 4]} ${String(i).padStart(2, '0')}`,
        url: `${base}/s/${i}.mp3`,
        bitrate: BITRATES[i % 5],
        genre: GENRES[i % 4],
        description: 'Songs from the harbour',
        link: `https://home.example/${i}`,
        logo: `${base}/logo.png`,
    })),
    { name: HOSTILE, url: `${base}/s/hostile.mp3`, bitrate: 64, genre: 'jazz', link: 'javascript:alert(2)' },
    { name: 'Relay via playlist', url: `${base}/relay.m3u`, bitrate: 128, genre: 'news' },
];
// A playlist big enough that its slow download shows progress on the way.
const slowList = () =>
    [
        '#EXTM3U',
        ...Array.from({ length: 20 }, (_, i) => `#EXTINF:-1,Slow ${i}\n${base}/slow/${i}.mp3`),
        ...Array(400).fill('# padding so the download takes a while'),
    ].join('\n');

const routes = {
    '/first.json': { type: 'application/json', body: () => JSON.stringify({ stations: stations() }) },
    '/relay.m3u': { type: 'audio/x-mpegurl', body: () => `#EXTM3U\n#EXTINF:-1,Relay\n${base}/s/relay.mp3\n` },
    '/slow.m3u': { type: 'audio/x-mpegurl', body: slowList, slow: true },
    '/logo.png': { type: 'image/png', body: png(48, [36, 88, 198]) },
};

let stand, profile, server, chrome, page;
const dialogs = [];
const pageErrors = [];

before(async () => {
    stand = await standIn(routes);
    base = stand.base;
    profile = scratchProfile();
    await runTunedex(profile, [
        'add',
        '--title',
        'First',
        '--kind',
        'Custom catalog',
        '--address',
        `${base}/first.json`,
    ]);
    server = await serve(profile);
    chrome = await browser();
    page = chrome.context.pages()[0] ?? (await chrome.context.newPage());
    page.on('dialog', (dialog) => {
        dialogs.push(dialog.message());
        dialog.dismiss().catch(() => {});
    });
    page.on('pageerror', (error) => pageErrors.push(error.message));
});

after(async () => {
    await chrome?.stop();
    await server?.stop();
    await stand?.stop();
    if (profile) fs.rmSync(profile, { recursive: true, force: true });
});

const summary = (re) =>
    page.waitForFunction(
        (source) => new RegExp(source).test(document.getElementById('summary').textContent),
        re.source,
        WAIT,
    );
const column = (field) =>
    page.$$eval(`#stations tbody td[data-field="${field}"]`, (cells) => cells.map((c) => c.textContent));
// Runs an action that asks for rows, and waits until the page shows the answer.
async function rows(action) {
    const answered = page.waitForResponse((r) => new URL(r.url()).pathname === '/api/stations', WAIT);
    await action();
    await answered;
    await page.waitForFunction(() => !document.getElementById('stations').hasAttribute('aria-busy'), null, WAIT);
}
const search = (text) =>
    rows(async () => {
        await page.fill('#search', text);
        await page.press('#search', 'Enter');
    });

// A request sent as a script on another site or behind a rebound name would send it.
function raw(method, path, headers) {
    const url = new URL(server.origin);
    return new Promise((resolve, reject) => {
        const req = http.request({ host: url.hostname, port: url.port, method, path, headers }, (res) => {
            let body = '';
            res.on('data', (d) => {
                body += d;
            });
            res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body }));
        });
        req.on('error', reject);
        req.end(method === 'POST' ? '{}' : undefined);
    });
}

describe('tunedex serve in Chromium', () => {
    // A flow that failed halfway leaves no dialog open over the next one.
    beforeEach(() => page?.evaluate(() => document.querySelectorAll('dialog[open]').forEach((d) => d.close())));

    it('refuses requests without the token, from a foreign origin or host, and posts without the header', async () => {
        const host = new URL(server.origin).host;
        const token = server.token;
        const cases = [
            ['GET', '/api/info', { Host: host }, 403],
            ['GET', '/', { Host: host }, 403],
            ['GET', '/api/info', { Host: host, 'X-Tunedex-Token': 'f'.repeat(32) }, 403],
            [
                'GET',
                '/api/info',
                { Host: host, 'X-Tunedex-Token': token, Origin: 'http://evil.example' },
                403,
            ],
            [
                'GET',
                '/api/info',
                { Host: `evil.example:${new URL(server.origin).port}`, 'X-Tunedex-Token': token },
                403,
            ],
            [
                'POST',
                '/api/refresh',
                { Host: host, Cookie: `tunedex_token=${token}`, 'Content-Type': 'application/json' },
                403,
            ],
            ['GET', '/api/info', { Host: host, 'X-Tunedex-Token': token, Origin: server.origin }, 200],
        ];
        for (const [method, path, headers, status] of cases) {
            const answer = await raw(method, path, headers);
            assert.equal(answer.status, status, `${method} ${path} ${JSON.stringify(headers)}`);
            if (status === 403) assert.match(JSON.parse(answer.body).error, /\w/);
        }
        const page = await raw('GET', '/', { Host: host, Cookie: `tunedex_token=${token}` });
        assert.match(page.headers['content-security-policy'], /default-src 'self'/);
    });

    it('lists, searches, filters, sorts and pages the stations', async () => {
        const total = stations().length;
        await page.goto(server.address);
        assert.equal(new URL(page.url()).search, '', 'the token leaves the address bar');
        await page.waitForSelector('body[data-ready], #error:not([hidden])', WAIT);
        assert.equal(await page.isHidden('#error'), true, await page.textContent('#error-text'));
        await page.waitForSelector('body[data-ready]', WAIT);
        await summary(new RegExp(`1–50 of ${total}\\b`));
        await shot(page, 'stations');

        await rows(() => page.click('#page-next'));
        await summary(new RegExp(`51–${total} of ${total}\\b`));
        assert.equal((await column('Name')).length, total - 50);

        const sortBy = () => rows(() => page.click('button.sort[data-field="Bitrate"]'));
        await sortBy();
        await summary(/1–50 of/);
        assert.equal(await page.getAttribute('th:has([data-field="Bitrate"])', 'aria-sort'), 'ascending');
        assert.equal((await column('Bitrate'))[0], '64');
        await sortBy();
        assert.equal(await page.getAttribute('th:has([data-field="Bitrate"])', 'aria-sort'), 'descending');
        assert.equal((await column('Bitrate'))[0], '320');

        const classical = stations().filter((s) => s.genre === 'classical');
        await search('classical');
        await summary(new RegExp(`of ${classical.length}\\b`));
        assert.ok((await column('Genre')).every((g) => g === 'classical'));

        await page.click('#add-condition');
        const condition = page.locator('#conditions li').first();
        await condition.locator('select').first().selectOption('Bitrate');
        await condition.locator('select').nth(1).selectOption('ge');
        const value = condition.locator('input');
        await rows(() => value.fill('256').then(() => value.press('Enter')));
        await summary(new RegExp(`of ${classical.filter((s) => s.bitrate >= 256).length}\\b`));
        assert.ok((await column('Bitrate')).every((b) => Number(b) >= 256));

        // A condition the host refuses is explained in words.
        await rows(() => value.fill('fast').then(() => value.press('Enter')));
        assert.equal(await page.isVisible('#error'), true);
        assert.match(await page.textContent('#error-text'), /\w{3,}/);

        await rows(() => page.click('#conditions button'));
        await search('');
        await summary(new RegExp(`of ${total}\\b`));
        assert.equal(await page.isHidden('#error'), true);
    });

    it('shows a station’s details with its logo from the host and its home page, and plays it', async () => {
        await search('jazz 00');
        await summary(/of 1\b/);
        await page.click('#stations button.station-name');
        await page.waitForSelector('#details[open]', WAIT);
        assert.equal(await page.textContent('#details-title'), 'Harbour jazz 00');
        await page.waitForFunction(
            () => {
                const logo = document.getElementById('details-logo');
                return (
                    !logo.hidden && logo.naturalWidth === 48 && new URL(logo.src).origin === location.origin
                );
            },
            null,
            WAIT,
        );
        const home = page.locator('#details-homepage');
        assert.equal(await home.getAttribute('href'), 'https://home.example/0');
        assert.deepEqual((await home.getAttribute('rel')).split(' ').sort(), ['noopener', 'noreferrer']);
        await shot(page, 'details');
        await page.keyboard.press('Escape');
        assert.equal(await page.isVisible('#details'), false);

        // A playlist address plays its first entry.
        await search('relay');
        await summary(/of 1\b/);
        await page.click('#stations button.play');
        await page.waitForFunction(
            (want) => document.getElementById('audio').getAttribute('src') === want,
            `${base}/s/relay.mp3`,
            WAIT,
        );
        assert.equal(await page.textContent('#now-playing'), 'Relay via playlist');
    });

    it('shows a hostile station name as text and runs nothing', async () => {
        await search('onerror');
        await summary(/of 1\b/);
        assert.deepEqual(await column('Name'), [HOSTILE]);
        await page.click('#stations button.station-name');
        await page.waitForSelector('#details[open]', WAIT);
        assert.equal(await page.textContent('#details-title'), HOSTILE);
        // Whatever its home page became, a link may only lead to a web page.
        const home = await page.getAttribute('#details-homepage', 'href');
        if (await page.isVisible('#details-homepage')) assert.match(home, /^https?:\/\//);
        await page.keyboard.press('Escape');
        await page.waitForTimeout(300);
        assert.equal(
            await page.evaluate(() => document.querySelectorAll('[onerror], img[src="x"]').length),
            0,
        );
        assert.deepEqual(dialogs, []);
        assert.deepEqual(pageErrors, []);
        await search('');
    });

    it('previews an address, adds it, follows its refresh to the end, exports it and removes it', async () => {
        await page.click('#tab-catalogs');
        await page.waitForSelector('#catalogs tbody tr', WAIT);
        await page.click('#catalog-add');
        await page.waitForSelector('#editor[open]', WAIT);
        await page.fill('#editor-name', 'Slow list');
        await page.selectOption('#editor-kind', 'Remote playlist');
        await page.fill('#editor-address', `${base}/slow.m3u`);
        await page.click('#editor-preview');
        await page.waitForFunction(
            () => /^20 stations/.test(document.getElementById('preview-summary').textContent),
            null,
            WAIT,
        );
        assert.equal(await page.locator('#preview-table tbody tr').count(), 20);
        await shot(page, 'preview');

        // Every state the task display goes through, as the page shows it.
        await page.evaluate(() => {
            window.seen = [];
            const bar = document.getElementById('task-progress');
            new MutationObserver(() =>
                window.seen.push({
                    caption: document.getElementById('task-caption').textContent,
                    value: bar.hasAttribute('value') ? bar.value : null,
                    max: bar.max,
                }),
            ).observe(document.getElementById('task'), {
                subtree: true,
                childList: true,
                characterData: true,
                attributes: true,
            });
        });
        await page.click('#editor-save');
        await page.waitForFunction(
            () => /^Slow list: /.test(document.getElementById('task-caption').textContent),
            null,
            WAIT,
        );
        await shot(page, 'catalogs-progress');
        await page.waitForFunction(() => !document.getElementById('last-run').hidden, null, {
            timeout: 60_000,
        });
        assert.match(await page.textContent('#last-run-summary'), /Refreshed/);
        const seen = await page.evaluate(() => window.seen);
        const partial = seen.filter(
            (s) => s.caption.startsWith('Slow list: ') && s.value !== null && s.value < s.max,
        );
        assert.ok(partial.length > 0, `progress on the way: ${JSON.stringify(seen)}`);
        const row = page.locator('#catalogs tbody tr', { hasText: 'Slow list' });
        await row.locator('td.num', { hasText: /^20$/ }).waitFor(WAIT);

        await page.click('#tab-stations');
        await rows(() => page.locator('#groups button', { hasText: 'Slow list' }).click());
        await summary(/1–20 of 20\b/);
        await page.selectOption('#export-format', 'm3u8');
        const [download] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#export')]);
        assert.match(download.suggestedFilename(), /\.m3u8$/);
        const playlist = fs.readFileSync(await download.path(), 'utf8');
        assert.match(playlist, /^#EXTM3U/);
        assert.equal(playlist.split(`${base}/slow/`).length - 1, 20);

        await page.click('#tab-catalogs');
        await row.locator('button', { hasText: 'Remove' }).click();
        await page.waitForSelector('#confirm[open]', WAIT);
        await page.click('#confirm-yes');
        await row.waitFor({ state: 'detached', ...WAIT });
        await page.click('#tab-stations');
        await page
            .locator('#groups button', { hasText: 'Slow list' })
            .waitFor({ state: 'detached', ...WAIT });
        await summary(new RegExp(`of ${stations().length}\\b`));
    });

    it('stops cleanly on Ctrl-C', async () => {
        const result = await server.stop();
        assert.deepEqual(result, { code: 0, signal: null }, server.stderr());
    });
});
