#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A stock MQTT client of radiobridge: python3-paho-mqtt as a user writes it,
nothing tuned (Nagle's algorithm on, requests and the reply subscription at
QoS 1). Sends COUNT requests one after another, each when the reply to the
one before is in, and prints each request-to-reply time in seconds, one a
line; exits 1 when a reply did not come within 10 s or was not ok.

  stock_client.py HOST PORT USER PASSWORD_FILE LINE_TOPIC COMMAND COUNT
"""
import sys
import threading
import time

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties

REPLY_WAIT = 10  # seconds


def main():
    host, port, user, password_file, line, command, count = sys.argv[1:8]
    with open(password_file) as file:
        password = file.readline().rstrip("\n")
    request_topic = f"{line}/20/request/{user}"
    reply_topic = f"{line}/reply/{user}/stock"
    replied = threading.Event()
    subscribed = threading.Event()
    replies = []

    client = mqtt.Client(protocol=mqtt.MQTTv5)
    client.username_pw_set(user, password)
    client.on_message = lambda _c, _u, message: (replies.append(message.payload), replied.set())
    client.on_subscribe = lambda *_: subscribed.set()
    client.connect(host, int(port))
    client.loop_start()
    client.subscribe(reply_topic, qos=1)
    if not subscribed.wait(REPLY_WAIT):
        return 1
    for number in range(int(count)):
        properties = Properties(PacketTypes.PUBLISH)
        properties.ResponseTopic = reply_topic
        properties.CorrelationData = str(number).encode()
        replied.clear()
        start = time.perf_counter()
        client.publish(request_topic, command, qos=1, properties=properties)
        if not replied.wait(REPLY_WAIT) or b'"ok":true' not in replies[-1]:
            return 1
        print(time.perf_counter() - start)
    client.disconnect()
    client.loop_stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
