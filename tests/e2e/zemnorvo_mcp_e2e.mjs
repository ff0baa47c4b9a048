// Drives the real `zemnorvo mcp` with the official MCP TypeScript client, as an
// agent on this machine would. run_e2e.sh starts this file through a script
// named `claude`, so this process is the agent: the server runs as its tool and
// the `sleep` it starts below is one of its own tasks.
// Usage: run_e2e.sh <work folder> zemnorvo_mcp_e2e.mjs <zemnorvo> --as-agent
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdirSync, mkdtempSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const zemnorvo = process.argv[2];
assert.ok(zemnorvo, 'usage: <zemnorvo executable>');

// A home of its own, so the owner's real store is never touched.
const home = mkdtempSync(join(tmpdir(), 'zemnorvo-e2e-'));
const env = {
  ...process.env,
  HOME: home,
  XDG_DATA_HOME: join(home, 'data'),
  XDG_CONFIG_HOME: join(home, 'config'),
  XDG_CACHE_HOME: join(home, 'cache'),
  XDG_STATE_HOME: join(home, 'state'),
};
const statusFile = join(home, 'data', 'ZemraNorvo', 'status.json');

function run(...args) {
  return execFileSync(zemnorvo, args, { env, encoding: 'utf8', timeout: 60000 });
}

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

async function connect() {
  const transport = new StdioClientTransport({ command: zemnorvo, args: ['mcp'], env, stderr: 'pipe' });
  const client = new Client({ name: 'zemnorvo-e2e', version: '1.0.0' });
  await client.connect(transport);
  return { client, child: transport._process };
}

test('an agent reads the status, stops its own task, is refused the rest, and files a suggestion', async (t) => {
  // The sampling loop's status.json, with one heavy app of the owner added:
  // a build machine runs no desktop apps, and quit suggestions need one.
  run('watch', '--once');
  const ownerApp = spawn('sleep', ['300'], { stdio: 'ignore' });
  const task = spawn('sleep', ['301'], { stdio: 'ignore' });
  t.after(() => {
    for (const p of [ownerApp, task]) if (p.exitCode === null && p.signalCode === null) p.kill('SIGKILL');
  });
  const status = JSON.parse(readFileSync(statusFile, 'utf8'));
  status.apps.push({
    name: 'Image Editor',
    bundlePath: '/usr/share/applications/org.example.ImageEditor.desktop',
    bundleID: 'org.example.ImageEditor',
    mainPid: ownerApp.pid,
    processCount: 1,
    cpuPercent: 80,
    memoryBytes: 4e9,
    category: 'user_app',
  });
  writeFileSync(statusFile + '.tmp', JSON.stringify(status));
  renameSync(statusFile + '.tmp', statusFile);

  const { client, child } = await connect();
  try {
    assert.equal(client.getServerVersion().name, 'zemra-norvo');
    assert.match(client.getInstructions(), /heavy jobs and build threads/);

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name).sort(), [
      'app_leftovers',
      'cleanup_preview',
      'disk_usage',
      'explain_process',
      'installed_apps',
      'kill_ai_process',
      'recent_actions',
      'status',
      'suggest_cleanup',
      'suggest_quit_apps',
      'suggest_uninstall',
      'suggestion_status',
      'wait_for_capacity',
    ]);
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, 'object', tool.name);
      assert.equal(tool.inputSchema.additionalProperties, false, tool.name);
    }

    // status: the digest of the loop's fresh status.json, as text and as structure.
    const digest = await client.callTool({ name: 'status', arguments: { process_limit: 5 } });
    assert.notEqual(digest.isError, true);
    assert.deepEqual(JSON.parse(digest.content[0].text), digest.structuredContent);
    assert.equal(digest.structuredContent.time, status.metrics.timestamp);
    assert.equal(digest.structuredContent.level, status.assessment.level);
    assert.ok(Number.isInteger(digest.structuredContent.recommended_parallel_jobs));
    assert.ok(digest.structuredContent.top_processes.length <= 5);

    // wait_for_capacity: measures again, reports progress, and answers by its timeout.
    const progress = [];
    const waited = await client.callTool(
      { name: 'wait_for_capacity', arguments: { jobs: 64, timeout_seconds: 2 } },
      undefined,
      { onprogress: (p) => progress.push(p), timeout: 30000 },
    );
    assert.equal(typeof waited.structuredContent.ready, 'boolean');
    assert.ok(waited.structuredContent.waited_seconds >= 2);
    assert.ok(progress.length >= 2, `progress: ${JSON.stringify(progress)}`);
    assert.equal(progress[0].progress, 0);
    assert.ok(progress.every((p, i) => p.total === 2 && (i === 0 || p.progress > progress[i - 1].progress)));

    // explain_process: this process is the agent, the server is its tool.
    const explained = await client.callTool({ name: 'explain_process', arguments: { pid: task.pid } });
    assert.match(explained.content[0].text, new RegExp(`pid ${task.pid}`));

    // kill_ai_process: refused for the system, the agent itself and the server's chain...
    for (const pid of [1, process.pid, child.pid]) {
      const refused = await client.callTool({ name: 'kill_ai_process', arguments: { pid, force: true } });
      assert.equal(refused.isError, true, `pid ${pid}`);
      assert.equal(refused.structuredContent.ok, false);
      assert.match(refused.structuredContent.message, /^Refused to stop /);
    }
    assert.ok(alive(process.pid) && alive(child.pid));

    // ...and done for a task this agent started, which the log then shows.
    const taskExit = once(task, 'exit');
    const stopped = await client.callTool({
      name: 'kill_ai_process',
      arguments: { pid: task.pid, reason: 'runaway test' },
    });
    assert.notEqual(stopped.isError, true, stopped.structuredContent?.message);
    assert.deepEqual(stopped.structuredContent.stopped, [task.pid]);
    assert.deepEqual(await taskExit, [null, 'SIGTERM']);
    const { structuredContent: log } = await client.callTool({ name: 'recent_actions', arguments: {} });
    const entry = log.actions.find((a) => a.pid === task.pid);
    assert.ok(entry, JSON.stringify(log));
    assert.equal(entry.actor, 'ai');
    assert.match(entry.detail, /runaway test/);

    // Arguments of the wrong type or range are tool errors, not crashes.
    for (const args of [{ pid: 0 }, { pid: '1; rm -rf /' }, {}, { pid: 1, extra: true }]) {
      const bad = await client.callTool({ name: 'kill_ai_process', arguments: args });
      assert.equal(bad.isError, true, JSON.stringify(args));
    }

    // suggest_quit_apps: files the owner's app; the owner's answer reads back.
    const filed = await client.callTool({
      name: 'suggest_quit_apps',
      arguments: { reason: 'the build needs memory', apps: ['Image Editor'] },
    });
    assert.notEqual(filed.isError, true, filed.content[0].text);
    assert.deepEqual(filed.structuredContent.apps, ['Image Editor']);
    const id = filed.structuredContent.id;
    let answer = await client.callTool({ name: 'suggestion_status', arguments: { id } });
    assert.equal(answer.structuredContent.status, 'pending');
    assert.match(run('suggestions'), /Image Editor/);
    // The owner's command refuses to answer for the owner from inside the
    // agent's tree and names the agent's tool; the owner's app answers instead,
    // writing the record to the done folder as it does.
    assert.throws(() => run('answer', id, 'keep'), /suggestion_status/);
    const suggestions = join(home, 'data', 'ZemraNorvo', 'suggestions');
    const record = JSON.parse(readFileSync(join(suggestions, 'pending', `${id}.json`), 'utf8'));
    Object.assign(record, {
      status: 'declined',
      kept: ['Image Editor'],
      answeredAt: new Date().toISOString().replace(/\.\d+Z$/, 'Z'),
    });
    mkdirSync(join(suggestions, 'done'), { recursive: true });
    writeFileSync(join(suggestions, 'done', `${id}.json`), JSON.stringify(record));
    rmSync(join(suggestions, 'pending', `${id}.json`));
    answer = await client.callTool({ name: 'suggestion_status', arguments: { id } });
    assert.equal(answer.structuredContent.status, 'declined');
    assert.deepEqual(answer.structuredContent.kept, ['Image Editor']);
    assert.ok(alive(ownerApp.pid), 'keeping the app must not stop it');

    // cleanup_preview reads the catalogue; suggest_cleanup files ids for the owner,
    // whose command refuses to answer it from inside the agent's tree.
    const catalogue = await client.callTool({ name: 'cleanup_preview', arguments: { measure_seconds: 2 } });
    assert.ok(Array.isArray(catalogue.structuredContent.items));
    const cleanup = await client.callTool({
      name: 'suggest_cleanup',
      arguments: { item_ids: ['pip-cache'], reason: 'the disk is full' },
    });
    assert.equal(cleanup.structuredContent.status, 'pending');
    assert.throws(() => run('answer', cleanup.structuredContent.id, 'clean'), /suggest_cleanup/);

    const unknown = await client.callTool({ name: 'suggestion_status', arguments: { id: 'nope' } });
    assert.equal(unknown.isError, true);

    // A store that cannot be written: a file stands where the suggestions
    // folder belongs (root ignores permission bits, so a read-only folder
    // would not stop this test's writes). The agent must hear that nothing
    // was filed, with the reason, and no id to wait on.
    const aside = `${suggestions}.aside`;
    renameSync(suggestions, aside);
    writeFileSync(suggestions, 'not a folder');
    try {
      const unfiled = await client.callTool({
        name: 'suggest_quit_apps',
        arguments: { reason: 'the build needs memory', apps: ['Image Editor'] },
      });
      assert.equal(unfiled.isError, true, JSON.stringify(unfiled));
      assert.match(unfiled.content[0].text, /^The suggestion was not filed: .+\. The owner cannot see it/);
      assert.equal(unfiled.structuredContent?.id, undefined);
    } finally {
      rmSync(suggestions);
      renameSync(aside, suggestions);
    }

    // A malformed request gets an error and the server goes on serving.
    child.stdin.write('{"jsonrpc":"2.0","id":77,"method":"tools/call","params":\n');
    await client.ping();
    const again = await client.callTool({ name: 'recent_actions', arguments: { limit: 1 } });
    assert.equal(again.structuredContent.actions.length, 1);

    const exited = once(child, 'exit');
    await client.close();
    const [code, signal] = child.exitCode !== null ? [child.exitCode, child.signalCode] : await exited;
    assert.equal(signal, null);
    assert.equal(code, 0);
  } finally {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
  }
});
