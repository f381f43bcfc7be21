#!/usr/bin/env python3
"""The Kubernetes CronJob of the sharded day run: valid against its schema, and
its shards add up: an Indexed Job whose completions and parallelism equal the
N of `--shard index/N`, each volume mounted exists, so that the N pods compute
the whole fleet once and the day ledger sees all N shards."""
import json
import re
import sys

import jsonschema
import yaml

manifest_path, schema_path = sys.argv[1], sys.argv[2]
with open(manifest_path, encoding="utf-8") as f:
    manifest = yaml.safe_load(f)
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)

failures = []
validator = jsonschema.Draft202012Validator(schema)
for error in sorted(validator.iter_errors(manifest), key=lambda e: list(e.path)):
    failures.append(f"{'/'.join(map(str, error.path)) or '(top)'}: {error.message}")

if not failures:
    job = manifest["spec"]["jobTemplate"]["spec"]
    pod = job["template"]["spec"]
    command = " ".join(pod["containers"][0].get("command", []) + pod["containers"][0].get("args", []))
    shard = re.search(r"--shard index/(\d+)\b", command)
    if job.get("completionMode") != "Indexed":
        failures.append("completionMode must be Indexed: only then does each pod get JOB_COMPLETION_INDEX")
    if not shard:
        failures.append("the command must compute its shard with --shard index/N")
    elif not (int(shard.group(1)) == job.get("completions") == job.get("parallelism")):
        failures.append(f"--shard index/{shard.group(1)} needs completions and parallelism of {shard.group(1)}, "
                        f"not {job.get('completions')} and {job.get('parallelism')}")
    if "run-day" not in command:
        failures.append("the command must run run-day")
    volumes = {v["name"] for v in pod.get("volumes", [])}
    for mount in pod["containers"][0].get("volumeMounts", []):
        if mount["name"] not in volumes:
            failures.append(f"volume mount {mount['name']} names no volume")

for failure in failures:
    print(f"{manifest_path}: {failure}")
sys.exit(1 if failures else 0)
