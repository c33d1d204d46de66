#!/usr/bin/python3
"""The schema check must reject what breaks the protocol, or it proves nothing.

usage: validate_protocol_log_test.py SCHEMA_DIR
"""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
import validate_protocol_log as check  # noqa: E402

SCHEMA_DIR = None
ROOT = ('{"allocated":4096,"directory":true,"id":0,"identity":"1:2","links":2,"modified":5,'
        '"name":"t","parent":null,"path":"/t","size":10}')
SUMMARY = ('{"elapsedMs":3,"entries":1,"errors":0,"generation":1,"limited":false,"mode":"analysis",'
           '"retained":1,"root":' + ROOT + ',"skipped":0}')
SCAN = '{"request":1,"command":"scan","args":{"root":"/t"}}\n'
DUPLICATES = '{"request":2,"command":"duplicates"}\n'
STAGE = '{"elapsedMs":0,"entries":0,"event":"progress","phase":"%s","request":%d,"total":0}\n'


class ConversationCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.schemas = check.Schemas(SCHEMA_DIR)

    def problems(self, sent, received):
        return list(check.check_conversation(self.schemas, sent.encode(), received.encode()))

    def test_conforming_conversations_pass(self):
        cases = [
            (SCAN, '{"request":1,"result":' + SUMMARY + '}\n'),
            (DUPLICATES, STAGE % ("sampling", 2) + STAGE % ("hashing", 2)
             + '{"request":2,"result":{"elapsedMs":1,"groups":[]}}\n'),
            ('{"request":7}\n', '{"error":"missing field `command` at line 1 column 13"}\n'),
            ('{"request":3,"command":"nope"}\n', '{"error":"Unknown command","request":3}\n'),
            ('{"request":4,"command":"entry"}\r\n', '{"error":"No such file or directory (os error 2)","request":4}\n'),
            ('[5,"terminate",{"pid":1}]\n', '{"error":"System or another user\'s process is protected","request":5}\n'),
        ]
        for sent, received in cases:
            with self.subTest(sent=sent):
                self.assertEqual(self.problems(sent, received), [])

    def test_protocol_breaks_are_reported(self):
        cases = [
            ("extra member", SCAN, '{"request":1,"result":' + SUMMARY[:-1] + ',"extra":1}}\n'),
            ("missing member", SCAN, '{"request":1,"result":' + SUMMARY.replace('"limited":false,', '') + '}\n'),
            ("wrong result shape for the command", SCAN, '{"request":1,"result":{"ok":true}}\n'),
            ("error text the command does not have", SCAN, '{"error":"Not a file","request":1}\n'),
            ("reply to another request", SCAN, '{"request":9,"result":' + SUMMARY + '}\n'),
            ("scan event during duplicates", DUPLICATES,
             '{"elapsedMs":0,"entries":1,"errors":0,"event":"progress","path":"/","phase":"indexing","request":2,"skipped":0}\n'),
            ("event for another request", DUPLICATES, STAGE % ("sampling", 3)),
            ("unknown decode message", '{\n', '{"error":"bad input at line 1 column 1"}\n'),
            ("more replies than requests", SCAN, '{"request":1,"result":' + SUMMARY + '}\n' * 2),
            ("not JSON", SCAN, '{"request":1,\n'),
        ]
        for name, sent, received in cases:
            with self.subTest(name):
                self.assertNotEqual(self.problems(sent, received), [])

    def test_lines_after_one_that_is_not_utf8_are_not_served(self):
        sent = b'{"request":1,"command":"summary"}\n\xff\n{"request":2,"command":"summary"}\n'
        self.assertEqual(list(check.input_lines(sent)), ['{"request":1,"command":"summary"}'])


if __name__ == "__main__":
    SCHEMA_DIR = sys.argv.pop(1)
    unittest.main()
