"""Reads a JUnit XML report with Python's standard XML parser, checks the elements
and attributes that the usual JUnit schema requires, and prints one JSON line:
{"tests": N, "failures": N, "cases": {name: failure message or null}}. Exits 1 when
the report does not hold up."""
import json
import sys
import xml.etree.ElementTree as ET


def require(element, *names):
    for name in names:
        if element.get(name) is None:
            sys.exit(f"<{element.tag}> lacks the attribute {name}")


root = ET.parse(sys.argv[1]).getroot()
if root.tag != "testsuites":
    sys.exit(f"the root is <{root.tag}>, not <testsuites>")
cases = {}
tests = failures = 0
for suite in root.findall("testsuite"):
    require(suite, "name", "tests", "failures", "errors", "time")
    counted = suite.findall("testcase")
    if int(suite.get("tests")) != len(counted):
        sys.exit("tests= does not count the test cases")
    failed = 0
    for case in counted:
        require(case, "name", "classname", "time")
        float(case.get("time"))
        failure = case.find("failure")
        if failure is not None:
            require(failure, "message", "type")
            failed += 1
        cases[case.get("name")] = None if failure is None else failure.get("message")
    if int(suite.get("failures")) != failed:
        sys.exit("failures= does not count the failures")
    tests += len(counted)
    failures += failed
print(json.dumps({"tests": tests, "failures": failures, "cases": cases}))
