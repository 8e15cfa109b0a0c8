// Reads every capture (*.mcap) under the folders given with the format's
// reference reader, which nobody on this project wrote: once through its
// indexed reader (footer, summary, chunk and message indexes, CRCs) and once
// through its stream reader, and checks what a capture promises.
//
//   node .ci/check_captures.mjs NODE_PREFIX FOLDER...
//
// NODE_PREFIX is where `npm install --prefix NODE_PREFIX @mcap/core` put the
// package. Exit 0 when every file passes and there was at least one.
import { createRequire } from "node:module";
import { promises as fs } from "node:fs";
import path from "node:path";

const [prefix, ...folders] = process.argv.slice(2);
if (!prefix || folders.length === 0) {
  console.error("usage: node .ci/check_captures.mjs NODE_PREFIX FOLDER...");
  process.exit(2);
}
const require = createRequire(path.resolve(prefix) + "/");
const { McapIndexedReader, McapStreamReader } = require("@mcap/core");

const TOPICS = { "/tarsis/frame": "tarsis.frame", "/tarsis/poses": "json", "/tarsis/log": "json" };
const METADATA_KEYS = ["module_version", "tracker_type", "sensors_supported", "detected_map", "sensor_map",
  "frame_rate", "capture_format", "sdk.library.OTK", "sdk.library.OvCmdIF"];

async function captures(folder) {
  const found = [];
  let entries = [];
  try {
    entries = await fs.readdir(folder, { withFileTypes: true });
  } catch {
    return found;
  }
  for (const e of entries) {
    const p = path.join(folder, e.name);
    if (e.isDirectory()) found.push(...(await captures(p)));
    else if (e.isFile() && e.name.endsWith(".mcap")) found.push(p);
  }
  return found.sort();
}

function fail(file, what) {
  throw new Error(`${file}: ${what}`);
}

function checkPoses(file, message) {
  let poses;
  try {
    poses = JSON.parse(new TextDecoder("utf-8", { fatal: true }).decode(message.data));
  } catch (e) {
    fail(file, `a /tarsis/poses message is not JSON: ${e.message}`);
  }
  if (poses.frame !== message.sequence) fail(file, `poses frame ${poses.frame} under sequence ${message.sequence}`);
  if (!Number.isInteger(poses.left_out) || !Array.isArray(poses.sensors)) fail(file, "poses without left_out or sensors");
  for (const s of poses.sensors) {
    for (const v of [...s.position, ...s.angles]) {
      // Each is a record's word / 100000, written out exactly.
      if (typeof v !== "number" || Math.abs(Math.round(v * 100000) - v * 100000) > 1e-6)
        fail(file, `a pose value ${v} is not a record's word / 100000`);
    }
    if (s.position.length !== 3 || s.angles.length !== 3 || !Number.isInteger(s.id) || !Number.isInteger(s.station))
      fail(file, `a sensor of frame ${poses.frame} is incomplete`);
  }
}

async function checkIndexed(file, bytes) {
  const readable = {
    size: async () => BigInt(bytes.length),
    read: async (offset, size) => bytes.subarray(Number(offset), Number(offset + size)),
  };
  const reader = await McapIndexedReader.Initialize({ readable });
  if (!reader.header.library.startsWith("tarsis ")) fail(file, `header library '${reader.header.library}'`);
  const topics = new Map();
  for (const channel of reader.channelsById.values()) {
    topics.set(channel.topic, channel);
    if (TOPICS[channel.topic] !== channel.messageEncoding)
      fail(file, `channel ${channel.topic} has the encoding ${channel.messageEncoding}`);
  }
  for (const topic of Object.keys(TOPICS)) if (!topics.has(topic)) fail(file, `no channel ${topic}`);
  for (const topic of ["/tarsis/poses", "/tarsis/log"]) {
    const schema = reader.schemasById.get(topics.get(topic).schemaId);
    if (!schema || schema.encoding !== "jsonschema") fail(file, `${topic} has no jsonschema schema`);
    JSON.parse(new TextDecoder().decode(schema.data));
  }
  const metadata = new Map();
  for await (const m of reader.readMetadata()) metadata.set(m.name, m.metadata);
  const tarsis = metadata.get("tarsis");
  if (!tarsis) fail(file, "no tarsis metadata");
  for (const key of METADATA_KEYS) if (!tarsis.has(key)) fail(file, `the tarsis metadata lacks ${key}`);
  if (![...tarsis.keys()].some((k) => k.startsWith("option."))) fail(file, "the tarsis metadata holds no option line");
  const end = metadata.get("tarsis.end");
  if (!end) fail(file, "no tarsis.end metadata");

  const counts = new Map();
  let previous = -1n;
  let messages = 0n;
  for await (const message of reader.readMessages({ validateCrcs: true })) {
    messages++;
    if (message.logTime < previous) fail(file, "messages out of time order");
    previous = message.logTime;
    const topic = reader.channelsById.get(message.channelId).topic;
    counts.set(topic, (counts.get(topic) ?? 0) + 1);
    if (topic === "/tarsis/poses") checkPoses(file, message);
    if (topic === "/tarsis/log") JSON.parse(new TextDecoder().decode(message.data)).line.toString();
  }
  const stats = reader.statistics;
  if (!stats) fail(file, "no statistics");
  if (stats.messageCount !== messages) fail(file, `statistics count ${stats.messageCount} messages, read ${messages}`);
  if (stats.metadataCount !== metadata.size) fail(file, "statistics miscount the metadata");
  const frames = counts.get("/tarsis/frame") ?? 0;
  if (frames !== (counts.get("/tarsis/poses") ?? 0)) fail(file, "frames and poses differ in number");
  if (String(frames) !== end.get("frames")) fail(file, `tarsis.end says ${end.get("frames")} frames, read ${frames}`);
  return { messages, frames, chunks: reader.chunkIndexes.length };
}

function checkStream(file, bytes, expected) {
  const reader = new McapStreamReader({ validateCrcs: true });
  reader.append(bytes);
  let messages = 0n;
  for (let record; (record = reader.nextRecord()); ) {
    if (record.type === "Message") messages++;
  }
  if (!reader.done()) fail(file, "the stream reader did not reach the footer");
  if (messages !== expected) fail(file, `the stream reader read ${messages} messages, the indexed one ${expected}`);
}

let files = [];
for (const folder of folders) files.push(...(await captures(folder)));
if (files.length === 0) {
  console.error(`no capture found under ${folders.join(", ")}`);
  process.exit(1);
}
let failed = 0;
for (const file of files) {
  try {
    const bytes = new Uint8Array(await fs.readFile(file));
    const r = await checkIndexed(file, bytes);
    checkStream(file, bytes, r.messages);
    console.log(`ok ${file}: ${r.messages} messages, ${r.frames} frames, ${r.chunks} chunks`);
  } catch (e) {
    failed++;
    console.log(`FAILED ${e.message ?? e}`);
  }
}
console.log(`${files.length - failed} of ${files.length} captures read by @mcap/core`);
process.exit(failed ? 1 : 0);
