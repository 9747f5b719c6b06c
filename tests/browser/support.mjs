// What the browser tests stand on: a loopback stand-in for station servers, `tunedex serve` on a
// scratch profile, and Debian's Chromium driven headless. Everything listens on 127.0.0.1 only and
// is stopped by the caller's `stop` functions.

import { spawn, execFile } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const root = path.resolve(here, '..', '..');
export const tunedex = process.env.TUNEDEX_BIN || path.join(root, 'build', 'bin', 'tunedex');
export const screenshots = process.env.TUNEDEX_SCREENSHOTS || path.join(root, 'build', 'screenshots');
const chromiumPath = process.env.TUNEDEX_CHROMIUM || '/usr/bin/chromium';

// A small opaque PNG of one colour, so a logo that reaches the page has a size to check.
export function png(size, [r, g, b]) {
    const chunk = (type, data) => {
        const length = Buffer.alloc(4);
        length.writeUInt32BE(data.length);
        const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
        const crc = Buffer.alloc(4);
        crc.writeUInt32BE(zlib.crc32(body));
        return Buffer.concat([length, body, crc]);
    };
    const header = Buffer.alloc(13);
    header.writeUInt32BE(size, 0);
    header.writeUInt32BE(size, 4);
    header.set([8, 2, 0, 0, 0], 8); // 8 bits, truecolour
    const line = Buffer.concat([Buffer.from([0]), Buffer.alloc(size * 3).map((_, i) => [r, g, b][i % 3])]);
    const pixels = zlib.deflateSync(Buffer.concat(Array(size).fill(line)));
    return Buffer.concat([
        Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
        chunk('IHDR', header),
        chunk('IDAT', pixels),
        chunk('IEND', Buffer.alloc(0)),
    ]);
}

// Serves `routes` ({'/path': {type, body, slow}}) on 127.0.0.1 and a free port. A slow route sends
// its body in ten pieces over about two seconds, with its length announced, so a refresh of it has
// progress to show.
export async function standIn(routes) {
    const requests = [];
    const server = http.createServer((req, res) => {
        const route = routes[new URL(req.url, 'http://127.0.0.1').pathname];
        requests.push(req.url);
        if (!route) {
            res.writeHead(404, { 'Content-Type': 'text/plain' });
            res.end('not here');
            return;
        }
        const body = Buffer.from(typeof route.body === 'function' ? route.body() : route.body);
        res.writeHead(200, { 'Content-Type': route.type, 'Content-Length': body.length });
        if (!route.slow) {
            res.end(body);
            return;
        }
        const pieces = 10;
        const step = Math.ceil(body.length / pieces);
        let sent = 0;
        const timer = setInterval(() => {
            if (res.destroyed) return clearInterval(timer);
            res.write(body.subarray(sent, sent + step));
            sent += step;
            if (sent >= body.length) {
                clearInterval(timer);
                res.end();
            }
        }, 200);
        res.on('close', () => clearInterval(timer));
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const base = `http://127.0.0.1:${server.address().port}`;
    return {
        base,
        requests,
        stop: () =>
            new Promise((resolve) => {
                server.closeAllConnections();
                server.close(() => resolve());
            }),
    };
}

export function scratchProfile() {
    return fs.mkdtempSync(path.join(os.tmpdir(), 'tunedex-browser-'));
}

export async function runTunedex(profile, args) {
    const { stdout } = await promisify(execFile)(tunedex, args, {
        env: { ...process.env, TUNEDEX_PROFILE: profile },
        timeout: 60_000,
    });
    return stdout;
}

// Servers still running when this process ends, for example when a time limit stops the run.
const running = new Set();
process.on('exit', () => running.forEach((child) => child.kill('SIGKILL')));
for (const signal of ['SIGINT', 'SIGTERM']) process.once(signal, () => process.exit(1));

// Starts `tunedex serve` and waits for the address it prints.
export async function serve(profile) {
    const child = spawn(tunedex, ['serve'], {
        env: { ...process.env, TUNEDEX_PROFILE: profile },
        stdio: ['ignore', 'pipe', 'pipe'],
    });
    running.add(child);
    child.on('exit', () => running.delete(child));
    let stderr = '';
    child.stderr.on('data', (d) => {
        stderr += d;
    });
    const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
    const address = await new Promise((resolve, reject) => {
        let out = '';
        const timer = setTimeout(
            () => reject(new Error(`tunedex serve printed no address: ${out}${stderr}`)),
            30_000,
        );
        child.stdout.on('data', (d) => {
            out += d;
            const found = /Serving the catalogue at (http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]+)/.exec(out);
            if (found) {
                clearTimeout(timer);
                resolve(found[1]);
            }
        });
        child.on('exit', () => {
            clearTimeout(timer);
            reject(new Error(`tunedex serve ended: ${stderr}`));
        });
    });
    const url = new URL(address);
    return {
        address,
        origin: url.origin,
        token: url.searchParams.get('token'),
        stderr: () => stderr,
        // Ctrl-C: resolves to how the server ended.
        stop: async () => {
            if (child.exitCode === null && child.signalCode === null) child.kill('SIGINT');
            const timer = setTimeout(() => child.kill('SIGKILL'), 10_000);
            const result = await exited;
            clearTimeout(timer);
            return result;
        },
    };
}

export async function browser() {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tunedex-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: chromiumPath,
        headless: true,
        acceptDownloads: true,
        viewport: { width: 1280, height: 800 },
        args: [
            '--no-sandbox',
            '--disable-gpu',
            '--disable-quic',
            '--no-first-run',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
        ],
    });
    return {
        context,
        stop: async () => {
            await context.close().catch(() => {});
            fs.rmSync(profile, { recursive: true, force: true });
        },
    };
}

export async function shot(page, name) {
    fs.mkdirSync(screenshots, { recursive: true });
    await page.screenshot({ path: path.join(screenshots, `${name}.png`) });
}
