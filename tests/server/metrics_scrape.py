#!/usr/bin/python3
"""Scrapes a /metrics URL and reads it with Debian's python3-prometheus-client parser.

Prints one JSON object: {"content_type": ..., "families": {family: type},
"samples": {"name{label="value",...}": value}} with labels in name order. Exits 1 with the
parser's message when the text is not the exposition format, 2 when nothing answered.
"""
import argparse
import json
import ssl
import sys
import urllib.request

from prometheus_client.parser import text_string_to_metric_families


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("url")
    parser.add_argument("--ca", help="the certificate authority of an https URL")
    args = parser.parse_args()
    # Loopback only: no proxy from the environment, and an https URL trusts its CA alone.
    handlers = [urllib.request.ProxyHandler({})]
    if args.ca:
        handlers.append(urllib.request.HTTPSHandler(context=ssl.create_default_context(cafile=args.ca)))
    try:
        with urllib.request.build_opener(*handlers).open(args.url, timeout=30) as reply:
            content_type = reply.headers.get("Content-Type", "")
            text = reply.read().decode("utf-8")
    except OSError as e:
        print(f"cannot scrape {args.url}: {e}")
        return 2
    families = {}
    samples = {}
    try:
        for family in text_string_to_metric_families(text):
            families[family.name] = family.type
            for s in family.samples:
                labels = ",".join(f'{k}="{v}"' for k, v in sorted(s.labels.items()))
                samples[f"{s.name}{{{labels}}}"] = s.value
    except ValueError as e:
        print(f"not the exposition format: {e}\n{text}")
        return 1
    print(json.dumps({"content_type": content_type, "families": families, "samples": samples}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
