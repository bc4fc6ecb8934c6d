#!/usr/bin/env python3
"""The release folder scripts/release-files.py makes from the built setup
and layout, made twice: byte for byte the same; the zip holds the layout;
SHA256SUMS holds; the winget, Scoop and SPDX files have the fields their
published schemas require, with the release's own hashes and names. Every
program and module of the layout (ours and 7zr.exe) asks for ASLR and DEP
and, where it has code to run, carries the relocations ASLR needs.

    release_files_test.py RELEASE_FILES_PY SETUP.EXE LAYOUT VERSION WORKDIR
"""
import filecmp
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

import yaml

tool, setup, layout, version, work = sys.argv[1:6]
failures = 0


def check(ok, name, detail=''):
    global failures
    print(('ok   ' if ok else 'FAIL ') + name + ('' if ok or not detail else ': ' + str(detail)))
    failures += not ok


def sha256(path):
    return hashlib.sha256(open(path, 'rb').read()).hexdigest()


def make(out):
    subprocess.run([sys.executable, tool, '--out', out, '--version', version, '--epoch', '1765000000',
                    '--setup', setup, '--layout', layout, '--tool', 'nsis=3.08'], check=True, stdout=subprocess.DEVNULL)


shutil.rmtree(work, ignore_errors=True)
a, b = os.path.join(work, 'a'), os.path.join(work, 'b')
make(a)
make(b)
same = filecmp.dircmp(a, b)
check(not same.diff_files and not same.left_only and not same.right_only and
      all(filecmp.cmp(os.path.join(a, f), os.path.join(b, f), False) for f in open(os.path.join(a, 'SHA256SUMS'))
          .read().split()[1::2]), 'two runs give the same files')

sums = [line.split('  ', 1) for line in open(os.path.join(a, 'SHA256SUMS')).read().splitlines()]
check(len(sums) == 7 and all(sha256(os.path.join(a, name)) == digest for digest, name in sums), 'SHA256SUMS holds',
      [n for _, n in sums])

zip_name = 'Vantorel-%s-portable.zip' % version
with zipfile.ZipFile(os.path.join(a, zip_name)) as archive:
    infos = archive.infolist()
    names = [i.filename for i in infos]
    wanted = sorted(os.path.relpath(os.path.join(t, f), layout).replace(os.sep, '/')
                    for t, _, fs in os.walk(layout) for f in fs)
    check(names == wanted and all(archive.read(n) == open(os.path.join(layout, n), 'rb').read() for n in names),
          'the zip holds the layout, in order', set(names) ^ set(wanted))
    check(len({i.date_time for i in infos}) == 1 and {i.create_system for i in infos} == {0},
          "the zip's entries carry one time and nothing of the builder")

# winget: the required fields of the 1.6.0 schemas (version, installer, defaultLocale).
folder = os.path.join(a, 'winget', 'manifests', 'v', 'Vantorel', 'Vantorel', version)
docs = {kind: yaml.safe_load(open(os.path.join(folder, 'Vantorel.Vantorel%s.yaml' % suffix), encoding='utf-8'))
        for kind, suffix in (('version', ''), ('installer', '.installer'), ('defaultLocale', '.locale.en-US'))}
identifier = re.compile(r'^[^.\s\\/:*?"<>|\x01-\x1f]{1,32}(\.[^.\s\\/:*?"<>|\x01-\x1f]{1,32}){1,7}$')
required = {'version': ['DefaultLocale'], 'installer': ['Installers'],
            'defaultLocale': ['PackageLocale', 'Publisher', 'PackageName', 'License', 'ShortDescription']}
for kind, doc in docs.items():
    missing = [k for k in ['PackageIdentifier', 'PackageVersion', 'ManifestType', 'ManifestVersion'] + required[kind]
               if not doc.get(k)]
    check(not missing and doc['ManifestType'] == kind and identifier.match(doc['PackageIdentifier']) and
          doc['PackageVersion'] == version and doc['ManifestVersion'] == '1.6.0', 'winget %s manifest' % kind, missing)
installer = docs['installer']
entry = installer['Installers'][0]
check(installer['InstallerType'] == 'nullsoft' and installer['Scope'] == 'user' and
      installer['InstallerSwitches'] == {'Silent': '/S', 'SilentWithProgress': '/S', 'InstallLocation': '/D=<INSTALLPATH>'}
      and installer['UpgradeBehavior'] == 'install' and entry['Architecture'] == 'x86' and
      entry['InstallerUrl'].endswith('/VantorelSetup-%s.exe' % version) and
      entry['InstallerSha256'] == sha256(setup).upper(), 'winget installer: nullsoft, per user, silent, upgrades, '
      "the setup's hash")
check(docs['defaultLocale']['Publisher'] == 'Vantorel' and docs['defaultLocale']['PackageName'] == 'Vantorel' and
      installer['AppsAndFeaturesEntries'][0]['DisplayVersion'] == version, 'winget names from the version resources')

scoop = json.load(open(os.path.join(a, 'scoop', 'vantorel.json'), encoding='utf-8'))
check(scoop['version'] == version and scoop['hash'] == sha256(os.path.join(a, zip_name)) and
      scoop['url'].endswith('/' + zip_name) and set(scoop['bin']) <= set(names) and
      all(s[0] in names for s in scoop['shortcuts']) and scoop['checkver']['url'] and
      re.search(scoop['checkver']['regex'], 'Hollin=0.09.26.0') and scoop['homepage'] and scoop['license'],
      "Scoop manifest: the zip's hash, its programs, a version check")

spdx = json.load(open(os.path.join(a, 'sbom.spdx.json'), encoding='utf-8'))
ids = {p['SPDXID'] for p in spdx['packages']} | {f['SPDXID'] for f in spdx['files']} | {'SPDXRef-DOCUMENT'}
check(spdx['spdxVersion'] == 'SPDX-2.3' and spdx['dataLicense'] == 'CC0-1.0' and spdx['SPDXID'] == 'SPDXRef-DOCUMENT'
      and spdx['name'] and spdx['documentNamespace'].startswith('https://') and spdx['creationInfo']['created']
      and spdx['creationInfo']['creators'] and
      all(p.get('name') and p.get('downloadLocation') for p in spdx['packages']) and
      all(r['spdxElementId'] in ids and r['relatedSpdxElement'] in ids for r in spdx['relationships']),
      'SPDX 2.3 document: required fields, relationships between its elements')
check(all(f['checksums'][0]['checksumValue'] == sha256(os.path.join(layout, f['fileName'][2:])) for f in spdx['files'])
      and {p['name'] for p in spdx['packages']} >= {'Vantorel', '7-Zip 7zr.exe', 'NSIS'},
      "SPDX: our files by hash, 7-Zip, the toolchain and NSIS")


def pe_hardening(path):
    """What a PE asks of the loader: (DYNAMIC_BASE and NX_COMPAT, has code to
    run, relocations kept)."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    characteristics = struct.unpack_from('<H', data, pe + 22)[0]
    optional = pe + 24
    dll_characteristics = struct.unpack_from('<H', data, optional + 70)[0]
    reloc_size = struct.unpack_from('<I', data, optional + 96 + 5 * 8 + 4)[0]
    # Code that runs has an entry point; the language modules have none and
    # are only ever mapped as data.
    code = struct.unpack_from('<I', data, optional + 16)[0] != 0
    return dll_characteristics & 0x140 == 0x140, code, reloc_size > 0 and not characteristics & 0x1


weak = []
for name in wanted:
    if name.lower().endswith(('.exe', '.dll')):
        flags, code, relocations = pe_hardening(os.path.join(layout, name))
        if not flags or (code and not relocations):
            weak.append(name)
check(not weak and any(n.endswith('7zr.exe') for n in wanted), 'every PE asks for ASLR and DEP, with relocations',
      weak)
shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)
