# SPDX-License-Identifier: GPL-2.0-or-later
"""An HTTP(S) server on loopback standing in for the push services in their tests (run with
/usr/bin/python3; standard library and the openssl command only).

Prints "PORT <n>" once it listens on a free port, then serves until killed. Every request is
appended to the record file as one JSON object per line, written before the answer goes out, so
a client that got its answer finds its request recorded:

  method    the request method
  path      the URL path, without the query
  query     the query as a dict of lists (urllib.parse.parse_qs, blank values kept)
  headers   a dict, names in lower case, repeated headers joined with ", ", values read as UTF-8
  body      the body as text (UTF-8, undecodable bytes replaced)
  service   the first path segment
  answer    {"token", "status", "headers", "body"}: the answer token taken and what was sent;
            status is null for never and close, token null where the receiver answered on its
            own (413, a broken body, a path it does not know), which takes no token; a Matrix
            answer also names its "event_id"
  problems  one sentence for each way the request differs from the form the service documents
            (and from our own rules: no secret in a URL, our alert labels); empty if it conforms

The URL path chooses the service and the answers: /<service>/<answers>/<rest...>. <service> is
one of ntfy, gotify, webhook, alertmanager, discord, slack, matrix, teams; <rest> is what the real
service's path would be: the topic for ntfy, <base>/message for Gotify, api/v2/alerts for
Alertmanager, api/webhooks/<id>/<token> for Discord, _matrix/client/v3/rooms/<room>/send/
m.room.message/<txn> for Matrix, anything for the webhook, Slack and Teams. <answers> is a
comma-separated list, one taken per request to the same /<service>/<answers> prefix, the last
one repeating:

  ok        what the service answers on success. ntfy: 200, the message as JSON (id, time, event,
            topic, message); Gotify: 200, the stored message (id, appid, message, title, priority,
            date); Discord: 204, or with ?wait=true 200 and the message object (a snowflake id);
            Slack: 200 "ok" as text/html; Matrix: 200 {"event_id"}, the same id again for a
            transaction id already seen with the same token and room; Teams: 202, empty; webhook
            and Alertmanager: 200, empty
  <status>  that status (a number such as 400, 401, 403, 404, 500, 503) with the error body the
            service gives, on one line: JSON for ntfy, Gotify, Discord, Matrix, Teams and
            Alertmanager, plain text for Slack and the webhook
  429-N     429 with Retry-After: N (and the service's own retry field where it has one)
  never     reads and records the request, then never answers; the connection stays open until
            the client closes it
  close     reads and records the request, then closes the connection without a word
  slow-N    ok, after N seconds

Whatever the token, a body over 1 MiB is refused with 413 (and the connection closed), and where
the token is ok or slow-N a JSON body that does not parse gets the service's 400 instead. A
Matrix transaction taken by never, close or slow-N counts as sent, as on a homeserver that got it.

--tls-dir DIR serves HTTPS with a certificate for localhost and 127.0.0.1 signed by a throwaway
CA, made with the openssl command once per folder; DIR/ca.pem, the CA's certificate, is there
before PORT is printed.
"""

import argparse
import datetime
import fcntl
import http
import http.server
import json
import os
import random
import re
import secrets
import socket
import ssl
import string
import subprocess
import sys
import threading
import time
from urllib.parse import parse_qs, unquote, urlsplit

MAX_BODY = 1 << 20
# An oversized body is still read (and dropped) up to this much, so that a client sending it
# whole gets to read the 413 rather than a reset.
DISCARD_LIMIT = 16 << 20
SERVICES = ("ntfy", "gotify", "webhook", "alertmanager", "discord", "slack", "matrix", "teams")
ANSWER = re.compile(r"ok|never|close|[2-5]\d\d|429-\d+|slow-\d+(\.\d+)?")
RFC3339 = re.compile(r"\d{4}-\d\d-\d\d[Tt]\d\d:\d\d:\d\d(\.\d+)?([Zz]|[+-]\d\d:\d\d)")
SECRET_QUERY = {"token", "auth", "access_token", "key", "apikey", "api_key", "password"}
NTFY_PRIORITIES = {"1", "2", "3", "4", "5", "min", "low", "default", "high", "urgent", "max"}
MATRIX_SEND = re.compile(r"_matrix/client/v3/rooms/([^/]+)/send/m\.room\.message/([^/]+)")


def now_rfc3339():
    return datetime.datetime.now(datetime.timezone.utc).isoformat().replace("+00:00", "Z")


def rfc3339_time(value):
    """The instant of an RFC 3339 time stamp, or None when it is not one."""
    if not isinstance(value, str) or not RFC3339.fullmatch(value):
        return None
    # Go writes nanoseconds; Python takes at most microseconds.
    value = re.sub(r"(\.\d{6})\d+", r"\1", value).replace("z", "Z").replace("t", "T")
    return datetime.datetime.fromisoformat(value.replace("Z", "+00:00"))


def text(value):
    return isinstance(value, str) and value.strip() != ""


def integer(value):
    return isinstance(value, int) and not isinstance(value, bool)


def string_map(value):
    return isinstance(value, dict) and all(isinstance(v, str) for v in value.values())


class Request:
    """What the checks look at."""

    def __init__(self, method, rest, query, headers, raw):
        self.method, self.rest, self.query = method, rest, query
        self.headers, self.raw = headers, raw
        self.data = None
        self.malformed = False

    def header(self, *names):
        return next((self.headers[n] for n in names if n in self.headers), None)


# --- what each service documents -------------------------------------------------------------

def want_method(r, p, *methods):
    if r.method not in methods:
        p.append(f"method is {r.method}, not {' or '.join(methods)}")


def want_object(r, p):
    if not isinstance(r.data, dict):
        if not r.malformed:
            p.append("the body is not a JSON object")
        return False
    return True


def labels_rule(labels, where, p):
    """Our own alert labels, the same for the webhook and Alertmanager."""
    if not isinstance(labels, dict):
        return
    if labels.get("alertname") != "RaidguiAlert":
        p.append(f"{where}labels.alertname is {labels.get('alertname')!r}, not 'RaidguiAlert'")
    for name in ("event", "host", "enclosure"):
        if not text(labels.get(name)):
            p.append(f"{where}label {name} is missing or empty")


def check_ntfy(r, p):
    want_method(r, p, "POST", "PUT")
    if len(r.rest) != 1 or not re.fullmatch(r"[-_A-Za-z0-9]{1,64}", r.rest[0]):
        p.append(f"the path holds {'/'.join(r.rest)!r}, not one topic name "
                 "([-_A-Za-z0-9], at most 64)")
    if len(r.raw) > 4096:
        p.append(f"the message is {len(r.raw)} bytes, over ntfy's 4096: "
                 "it would arrive as an attachment")
    try:
        r.raw.decode("utf-8")
    except UnicodeDecodeError:
        p.append("the message is not UTF-8: it would arrive as an attachment")
    title = r.header("x-title", "title", "ti", "t")
    if title is not None and len(title.encode()) > 1024:
        p.append("the title is over ntfy's 1024 bytes")
    priority = r.header("x-priority", "priority", "prio", "p")
    if priority is not None and priority.strip().lower() not in NTFY_PRIORITIES:
        p.append(f"priority {priority!r} is none of 1-5, min, low, default, high, urgent, max")
    tags = r.header("x-tags", "tags", "tag", "ta")
    if tags is not None and len(tags.encode()) > 512:
        p.append("the tags are over ntfy's 512 bytes")
    auth = r.headers.get("authorization")
    if auth is not None and not re.fullmatch(r"(Bearer|Basic) \S+", auth):
        p.append("Authorization is neither 'Bearer <token>' nor 'Basic <credentials>'")


def check_gotify(r, p):
    want_method(r, p, "POST")
    if not r.rest or r.rest[-1] != "message":
        p.append(f"the path ends in {'/'.join(r.rest)!r}, not /message")
    if not text(r.headers.get("x-gotify-key")) and \
            not re.fullmatch(r"Bearer \S+", r.headers.get("authorization", "")):
        p.append("no application token in the X-Gotify-Key header")
    if not want_object(r, p):
        return
    d = r.data
    if not text(d.get("message")):
        p.append("message is missing or empty")
    if "title" in d and not isinstance(d["title"], str):
        p.append("title is not a string")
    if "priority" in d and not integer(d["priority"]):
        p.append(f"priority {d['priority']!r} is not an integer")
    if "extras" in d and not isinstance(d["extras"], dict):
        p.append("extras is not an object")


def check_webhook(r, p):
    want_method(r, p, "POST")
    if not want_object(r, p):
        return
    d = r.data
    if d.get("version") != "4":
        p.append(f"version is {d.get('version')!r}, not '4'")
    for key in ("groupKey", "receiver", "externalURL"):
        if not isinstance(d.get(key), str):
            p.append(f"{key} is missing or not a string")
    if not integer(d.get("truncatedAlerts")):
        p.append("truncatedAlerts is missing or not an integer")
    if d.get("status") not in ("firing", "resolved"):
        p.append(f"status is {d.get('status')!r}, not firing or resolved")
    for key in ("groupLabels", "commonLabels", "commonAnnotations"):
        if not string_map(d.get(key)):
            p.append(f"{key} is missing or not an object of strings")
    alerts = d.get("alerts")
    if not isinstance(alerts, list) or not alerts:
        p.append("alerts is missing or empty")
        return
    for i, alert in enumerate(alerts):
        where = f"alerts[{i}]."
        if not isinstance(alert, dict):
            p.append(f"alerts[{i}] is not an object")
            continue
        if alert.get("status") not in ("firing", "resolved"):
            p.append(f"{where}status is {alert.get('status')!r}, not firing or resolved")
        for key in ("labels", "annotations"):
            if not string_map(alert.get(key)):
                p.append(f"{where}{key} is missing or not an object of strings")
        for key in ("startsAt", "endsAt"):
            if rfc3339_time(alert.get(key)) is None:
                p.append(f"{where}{key} is {alert.get(key)!r}, not an RFC 3339 time")
        if "generatorURL" in alert and not isinstance(alert["generatorURL"], str):
            p.append(f"{where}generatorURL is not a string")
        if not text(alert.get("fingerprint")):
            p.append(f"{where}fingerprint is missing or empty")
        labels_rule(alert.get("labels"), where, p)
    # As Alertmanager has it: a group is firing while any of its alerts is.
    firing = any(isinstance(a, dict) and a.get("status") == "firing" for a in alerts)
    if d.get("status") in ("firing", "resolved") and (d["status"] == "firing") != firing:
        p.append(f"status is {d['status']!r} but its alerts say otherwise")


def check_alertmanager(r, p):
    want_method(r, p, "POST")
    if r.rest != ["api", "v2", "alerts"]:
        p.append(f"the path ends in {'/'.join(r.rest)!r}, not api/v2/alerts")
    if not isinstance(r.data, list) or not r.data:
        if not r.malformed:
            p.append("the body is not a non-empty JSON array of alerts")
        return
    for i, alert in enumerate(r.data):
        where = f"[{i}]."
        if not isinstance(alert, dict):
            p.append(f"[{i}] is not an object")
            continue
        unknown = sorted(set(alert) - {"labels", "annotations", "startsAt", "endsAt",
                                       "generatorURL"})
        if unknown:
            p.append(f"{where}holds fields Alertmanager does not take: {', '.join(unknown)}")
        labels = alert.get("labels")
        if not string_map(labels) or not labels:
            p.append(f"{where}labels is missing or not an object of strings")
            labels = None
        else:
            bad = [n for n in labels if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", n)]
            if bad:
                p.append(f"{where}label names not allowed: {', '.join(bad)}")
            if not text(labels.get("alertname")):
                p.append(f"{where}labels.alertname is missing or empty")
        if "annotations" in alert and not string_map(alert["annotations"]):
            p.append(f"{where}annotations is not an object of strings")
        times = {}
        for key in ("startsAt", "endsAt"):
            if key in alert:
                times[key] = rfc3339_time(alert[key])
                if times[key] is None:
                    p.append(f"{where}{key} is {alert[key]!r}, not an RFC 3339 time")
        if times.get("startsAt") and times.get("endsAt") and times["endsAt"] < times["startsAt"]:
            p.append(f"{where}endsAt is before startsAt")
        if "generatorURL" in alert and not (isinstance(alert["generatorURL"], str) and
                                            re.match(r"[A-Za-z][A-Za-z0-9+.-]*://",
                                                     alert["generatorURL"])):
            p.append(f"{where}generatorURL is not an absolute URL")
        if labels is not None and text(labels.get("alertname")):
            labels_rule(labels, where, p)


def check_discord(r, p):
    want_method(r, p, "POST")
    if not re.fullmatch(r"api/(v\d+/)?webhooks/\d+/[^/]+", "/".join(r.rest)):
        p.append(f"the path ends in {'/'.join(r.rest)!r}, not api/webhooks/<id>/<token>")
    wait = r.query.get("wait")
    if wait is not None and wait[-1].lower() not in ("true", "false"):
        p.append(f"wait is {wait[-1]!r}, not true or false")
    if not want_object(r, p):
        return
    content, embeds = r.data.get("content"), r.data.get("embeds")
    if content is not None and not isinstance(content, str):
        p.append("content is not a string")
    elif isinstance(content, str) and len(content) > 2000:
        p.append(f"content is {len(content)} characters, over Discord's 2000")
    if embeds is not None:
        if not isinstance(embeds, list) or len(embeds) > 10:
            p.append("embeds is not a list of at most 10")
            embeds = None
        else:
            for i, embed in enumerate(embeds):
                if not isinstance(embed, dict):
                    p.append(f"embeds[{i}] is not an object")
                    continue
                if len(str(embed.get("title", ""))) > 256:
                    p.append(f"embeds[{i}].title is over Discord's 256 characters")
                if len(str(embed.get("description", ""))) > 4096:
                    p.append(f"embeds[{i}].description is over Discord's 4096 characters")
    if not text(content) and not embeds:
        p.append("neither content nor embeds: Discord refuses an empty message")


def check_slack(r, p):
    want_method(r, p, "POST")
    if not want_object(r, p):
        return
    d = r.data
    if "text" in d and not isinstance(d["text"], str):
        p.append("text is not a string")
    if not text(d.get("text")) and not (isinstance(d.get("blocks"), list) and d["blocks"]) \
            and not (isinstance(d.get("attachments"), list) and d["attachments"]):
        p.append("text is missing or empty, and there are no blocks: Slack answers no_text")


def check_matrix(r, p):
    want_method(r, p, "PUT")
    match = MATRIX_SEND.fullmatch("/".join(r.rest))
    if not match:
        p.append(f"the path ends in {'/'.join(r.rest)!r}, not "
                 "_matrix/client/v3/rooms/<room>/send/m.room.message/<txn>")
    elif not re.fullmatch(r"![^:]+:.+", unquote(match.group(1))):
        p.append(f"room id {unquote(match.group(1))!r} is not of the form !opaque:server")
    if not re.fullmatch(r"Bearer \S+", r.headers.get("authorization", "")):
        p.append("no access token in 'Authorization: Bearer'")
    if not want_object(r, p):
        return
    d = r.data
    if d.get("msgtype") not in ("m.text", "m.notice"):
        p.append(f"msgtype is {d.get('msgtype')!r}, not m.text")
    if not text(d.get("body")):
        p.append("body is missing or empty")
    if "formatted_body" in d and d.get("format") != "org.matrix.custom.html":
        p.append("formatted_body without format 'org.matrix.custom.html'")


def check_teams(r, p):
    want_method(r, p, "POST")
    if not want_object(r, p):
        return
    if r.data.get("type") != "message":
        p.append(f"type is {r.data.get('type')!r}, not 'message'")
    attachments = r.data.get("attachments")
    if not isinstance(attachments, list) or not attachments:
        p.append("attachments is missing or empty")
        return
    for i, attachment in enumerate(attachments):
        where = f"attachments[{i}]."
        if not isinstance(attachment, dict):
            p.append(f"attachments[{i}] is not an object")
            continue
        if attachment.get("contentType") != "application/vnd.microsoft.card.adaptive":
            p.append(f"{where}contentType is {attachment.get('contentType')!r}, "
                     "not application/vnd.microsoft.card.adaptive")
        card = attachment.get("content")
        if not isinstance(card, dict):
            p.append(f"{where}content is not an Adaptive Card object")
            continue
        if card.get("type") != "AdaptiveCard":
            p.append(f"{where}content.type is {card.get('type')!r}, not 'AdaptiveCard'")
        if not text(card.get("version")):
            p.append(f"{where}content.version is missing")
        if not isinstance(card.get("body"), list) or not card["body"]:
            p.append(f"{where}content.body is missing or empty")


CHECKS = {"ntfy": check_ntfy, "gotify": check_gotify, "webhook": check_webhook,
          "alertmanager": check_alertmanager, "discord": check_discord, "slack": check_slack,
          "matrix": check_matrix, "teams": check_teams}


# --- what each service answers ---------------------------------------------------------------

def reason(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Error"


def phrase(status):
    return reason(status).lower()


def error_answer(service, status, retry=None):
    """(content type, body) of the service's error answer: one line, its first words telling."""
    if service == "ntfy":
        words = {400: "invalid request", 401: "unauthorized", 403: "forbidden",
                 404: "page not found", 413: "request entity too large",
                 429: "limit reached: too many requests"}.get(status, phrase(status))
        body = {"code": status * 100 + 1, "http": status, "error": words}
    elif service == "gotify":
        words = {400: "the request is not valid",
                 401: "you need to provide a valid access token or user credentials to access "
                      "this api",
                 403: "you are not allowed to access this api"}.get(status, phrase(status))
        body = {"error": reason(status), "errorCode": status,
                "errorDescription": words}
    elif service == "discord":
        message, code = {400: ("Invalid Form Body", 50035), 401: ("Invalid Webhook Token", 50027),
                         403: ("Missing Permissions", 50013), 404: ("Unknown Webhook", 10015),
                         }.get(status, (f"{status}: {reason(status)}", 0))
        body = {"message": message, "code": code}
        if status == 429:
            body = {"message": "You are being rate limited.", "retry_after": float(retry or 1),
                    "global": False}
    elif service == "matrix":
        code, words = {400: ("M_BAD_JSON", "Content is not a valid m.room.message"),
                       401: ("M_UNKNOWN_TOKEN", "Invalid access token passed."),
                       403: ("M_FORBIDDEN", "User is not in the room"),
                       404: ("M_NOT_FOUND", "Unknown room"),
                       429: ("M_LIMIT_EXCEEDED", "Too Many Requests"),
                       }.get(status, ("M_UNKNOWN", reason(status)))
        body = {"errcode": code, "error": words}
        if status == 429:
            body["retry_after_ms"] = int(retry or 1) * 1000
    elif service == "teams":
        code, words = {400: ("InvalidRequestContent", "The request content is not valid."),
                       401: ("DirectApiAuthorizationRequired", "The request must be "
                             "authenticated."),
                       403: ("AuthorizationFailed", "The signature of the request is not valid."),
                       404: ("WorkflowNotFound", "The workflow could not be found."),
                       429: ("WorkflowRequestsThrottled", "Too many requests to the workflow."),
                       }.get(status, (reason(status).replace(" ", ""), phrase(status)))
        body = {"error": {"code": code, "message": words}}
    elif service == "alertmanager":
        body = {"code": status, "message": {400: "parsing alerts body failed"}.get(
            status, phrase(status))}
    elif service == "slack":
        return "text/plain", {400: "invalid_payload", 403: "action_prohibited",
                              404: "no_service", 410: "channel_is_archived",
                              429: "rate_limited", 500: "rollup_error"}.get(
            status, phrase(status).replace(" ", "_"))
    else:
        return "text/plain", {400: "bad request: the body is not valid",
                              401: "unauthorized: no valid credentials",
                              403: "forbidden: the token is not valid"}.get(
            status, phrase(status))
    return "application/json", json.dumps(body)


def snowflake():
    # Discord's: milliseconds since 2015 above 22 bits of anything.
    return str(((int(time.time() * 1000) - 1420070400000) << 22) | random.getrandbits(22))


def ok_answer(server, service, r, event_id):
    """(status, content type, body) of the service's answer on success."""
    d = r.data if isinstance(r.data, dict) else {}
    if service == "ntfy":
        message = {"id": "".join(random.choices(string.ascii_letters + string.digits, k=12)),
                   "time": int(time.time()), "expires": int(time.time()) + 43200,
                   "event": "message", "topic": r.rest[-1] if r.rest else "",
                   "message": r.raw.decode("utf-8", "replace")}
        title = r.header("x-title", "title", "ti", "t")
        priority = r.header("x-priority", "priority", "prio", "p")
        tags = r.header("x-tags", "tags", "tag", "ta")
        if title:
            message["title"] = title
        if priority:
            names = {"min": 1, "low": 2, "default": 3, "high": 4, "urgent": 5, "max": 5}
            value = priority.strip().lower()
            message["priority"] = int(value) if value.isdigit() else names.get(value, 3)
        if tags:
            message["tags"] = [t.strip() for t in tags.split(",")]
        return 200, "application/json", json.dumps(message) + "\n"
    if service == "gotify":
        message = {"id": server.next_id(), "appid": 1, "message": d.get("message", ""),
                   "title": d.get("title", "raidgui"), "priority": d.get("priority", 0),
                   "date": now_rfc3339()}
        if "extras" in d:
            message["extras"] = d["extras"]
        return 200, "application/json", json.dumps(message)
    if service == "discord":
        if r.query.get("wait", [""])[-1].lower() != "true":
            return 204, None, ""
        webhook = r.rest[-2] if len(r.rest) >= 2 else snowflake()
        message = {"id": snowflake(), "type": 0, "content": d.get("content", ""),
                   "channel_id": snowflake(), "embeds": d.get("embeds", []),
                   "author": {"id": webhook, "username": d.get("username", "raidgui"),
                              "bot": True},
                   "timestamp": now_rfc3339(), "webhook_id": webhook}
        return 200, "application/json", json.dumps(message)
    if service == "slack":
        return 200, "text/html", "ok"
    if service == "matrix":
        return 200, "application/json", json.dumps({"event_id": event_id})
    if service == "teams":
        return 202, None, ""
    return 200, None, ""


# --- the server --------------------------------------------------------------------------------

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "push-test-receiver"
    timeout = 120

    def version_string(self):
        return self.server_version

    def log_message(self, *args):
        pass  # the record file says it all

    def declared_length(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            return 0
        try:
            return int(self.headers.get("Content-Length", 0))
        except ValueError:
            return -1

    def parse_request(self):
        self.expecting = False
        return super().parse_request()

    def handle_expect_100(self):
        # A client that waits for 100 Continue gets the 413 instead and keeps its body.
        self.expecting = True
        if self.declared_length() > MAX_BODY:
            return True
        return super().handle_expect_100()

    def read_body(self):
        """The body, or None when it is over MAX_BODY (then read up to DISCARD_LIMIT, dropped)."""
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            parts, size = [], 0
            while True:
                length = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if length == 0:
                    while self.rfile.readline().strip():
                        pass  # trailers
                    return None if size > MAX_BODY else b"".join(parts)
                size += length
                if size > DISCARD_LIMIT:
                    self.close_connection = True
                    return None
                chunk = self.rfile.read(length)
                self.rfile.readline()
                if size <= MAX_BODY:
                    parts.append(chunk)
        length = max(self.declared_length(), 0)
        if length <= MAX_BODY:
            return self.rfile.read(length)
        self.close_connection = True
        while not self.expecting and 0 < length <= DISCARD_LIMIT:
            chunk = self.rfile.read(min(length, 1 << 16))
            if not chunk:
                break
            length -= len(chunk)
        return None

    def serve(self):
        url = urlsplit(self.path)
        segments = url.path.split("/")
        service = segments[1] if len(segments) > 1 else ""
        answers = segments[2] if len(segments) > 2 else ""
        headers = {}
        for name, value in self.headers.items():
            value = value.encode("latin-1", "replace").decode("utf-8", "replace")
            name = name.lower()
            headers[name] = f"{headers[name]}, {value}" if name in headers else value
        query = parse_qs(url.query, keep_blank_values=True)
        record = {"method": self.command, "path": url.path, "query": query, "headers": headers,
                  "body": "", "service": service, "answer": None, "problems": []}
        problems = record["problems"]

        try:
            raw = self.read_body()
        except ValueError:
            problems.append("the chunked body is broken")
            self.close_connection = True
            return self.answer(record, None, 400, *error_answer(service, 400))
        if raw is None:
            problems.append("the body is over the 1 MiB this server takes")
            return self.answer(record, None, 413, *error_answer(service, 413))
        record["body"] = raw.decode("utf-8", "replace")
        if self.declared_length() < 0:
            problems.append("Content-Length is not a number")

        tokens = answers.split(",")
        if service not in SERVICES or not all(ANSWER.fullmatch(t) for t in tokens):
            problems.append(f"no such service or answers: /{service}/{answers}")
            return self.answer(record, None, 404, "text/plain",
                               "receiver: the path is not /<service>/<answers>/...")
        token = self.server.next_token(f"/{service}/{answers}", tokens)

        # The rules every service shares.
        if self.headers.defects or self.headers.get_payload():
            problems.append("the header block is broken (a header value with a line break?)")
        for name, value in headers.items():
            if "\r" in value or "\n" in value:
                problems.append(f"the {name} header holds a line break")
        for name in query:
            if name.lower() in SECRET_QUERY:
                problems.append(f"a secret travels in the URL: the query holds {name}=")

        r = Request(self.command, segments[3:], query, headers, raw)
        if service != "ntfy":
            content_type = headers.get("content-type", "")
            if content_type.split(";")[0].strip().lower() != "application/json":
                problems.append(f"Content-Type is {content_type!r}, not application/json")
            try:
                r.data = json.loads(raw.decode("utf-8"))
            except ValueError as error:
                r.malformed = True
                problems.append(f"the body is not JSON: {error}")
        CHECKS[service](r, problems)

        event_id = None
        if service == "matrix" and MATRIX_SEND.fullmatch("/".join(r.rest)) and \
                (token in ("ok", "never", "close") or token.startswith("slow-")) and \
                not r.malformed:
            event_id = self.server.event_id((headers.get("authorization"), "/".join(r.rest)))

        if token in ("never", "close"):
            return self.answer(record, token, None, None, "", event_id=event_id)
        if token.startswith("429-"):
            retry = token[4:]
            return self.answer(record, token, 429, *error_answer(service, 429, retry),
                               extra={"Retry-After": retry})
        if token.isdigit():
            status = int(token)
            content_type, body = error_answer(service, status) if status >= 400 else (None, "")
            return self.answer(record, token, status, content_type, body)
        if r.malformed:
            return self.answer(record, token, 400, *error_answer(service, 400))
        status, content_type, body = ok_answer(self.server, service, r, event_id)
        delay = float(token[5:]) if token.startswith("slow-") else 0
        return self.answer(record, token, status, content_type, body, delay=delay,
                           event_id=event_id)

    def answer(self, record, token, status, content_type, body, extra=None, delay=0,
               event_id=None):
        headers = dict(extra or {})
        if content_type:
            headers["Content-Type"] = content_type
        record["answer"] = {"token": token, "status": status,
                            "headers": {k.lower(): v for k, v in headers.items()}, "body": body}
        if event_id:
            record["answer"]["event_id"] = event_id
        self.server.write(record)
        if token == "close":
            self.close_connection = True
            return
        if token == "never":
            self.close_connection = True
            self.connection.settimeout(None)
            try:
                while self.connection.recv(1 << 16):
                    pass
            except OSError:
                pass
            return
        time.sleep(delay)
        payload = body.encode("utf-8")
        try:
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            if status != 204 and not 100 <= status < 200:
                self.send_header("Content-Length", str(len(payload)))
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(payload)
            self.wfile.flush()
        except OSError:
            self.close_connection = True  # the client went away: nothing more to say

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = serve


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, bind, record, tls):
        self.address_family = socket.AF_INET6 if ":" in bind else socket.AF_INET
        super().__init__((bind, 0), Handler)
        self.record, self.tls = record, tls
        self.lock = threading.Lock()
        self.taken, self.events, self.ids = {}, {}, 0

    def next_token(self, prefix, tokens):
        with self.lock:
            n = self.taken.get(prefix, 0)
            self.taken[prefix] = n + 1
        return tokens[min(n, len(tokens) - 1)]

    def next_id(self):
        with self.lock:
            self.ids += 1
            return self.ids

    def event_id(self, transaction):
        with self.lock:
            return self.events.setdefault(transaction, "$" + secrets.token_urlsafe(32))

    def write(self, record):
        with self.lock, open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")

    def finish_request(self, request, client_address):
        if not self.tls:
            return super().finish_request(request, client_address)
        # The handshake runs here, in the connection's own thread, so that a client that never
        # completes it holds up no one else.
        try:
            request.settimeout(Handler.timeout)
            wrapped = self.tls.wrap_socket(request, server_side=True)
        except OSError:
            return  # a client that does not trust us, or does not speak TLS
        try:
            super().finish_request(wrapped, client_address)
        finally:
            try:
                wrapped.settimeout(1)
                wrapped.unwrap()
            except (OSError, ValueError):
                pass
            wrapped.close()

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError, TimeoutError)):
            super().handle_error(request, client_address)


def make_certificates(folder):
    """A CA and a certificate it signed for localhost and 127.0.0.1, made once per folder."""
    os.makedirs(folder, exist_ok=True)
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    with open(path(".certificates.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # receivers started together make one set, not two
        if not os.path.exists(path("server.key")):
            with open(path("openssl.cnf"), "w") as config:
                config.write("[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = x\n"
                             "[ca]\nbasicConstraints = critical,CA:TRUE\n"
                             "keyUsage = critical,keyCertSign,cRLSign\n"
                             "subjectKeyIdentifier = hash\n"
                             "[leaf]\nbasicConstraints = critical,CA:FALSE\n"
                             "keyUsage = critical,digitalSignature\n"
                             "extendedKeyUsage = serverAuth\n"
                             "subjectAltName = DNS:localhost,IP:127.0.0.1\n"
                             "subjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid\n")
            key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
            for command in (
                    ["req", "-x509", "-config", path("openssl.cnf"), "-extensions", "ca", *key,
                     "-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
                     "-subj", "/CN=raidgui push test CA"],
                    ["req", "-new", "-config", path("openssl.cnf"), *key,
                     "-keyout", path("server.key.new"), "-out", path("server.csr"),
                     "-subj", "/CN=localhost"],
                    ["x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"),
                     "-CAkey", path("ca.key"), "-set_serial", str(random.getrandbits(63)),
                     "-days", "2", "-extfile", path("openssl.cnf"), "-extensions", "leaf",
                     "-out", path("server.pem")]):
                subprocess.run(["openssl", *command], check=True, capture_output=True)
            os.replace(path("server.key.new"), path("server.key"))
    return path("server.pem"), path("server.key")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--record", required=True, help="the JSON-lines file of the requests")
    parser.add_argument("--tls-dir", help="serve HTTPS; the CA's certificate is DIR/ca.pem")
    parser.add_argument("--bind", default="127.0.0.1")
    arguments = parser.parse_args()
    tls = None
    if arguments.tls_dir:
        certificate, key = make_certificates(arguments.tls_dir)
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(certificate, key)
    server = Server(arguments.bind, arguments.record, tls)
    print("PORT", server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
