#!/usr/bin/env python3
"""Makes the files of a release folder from a built setup and install layout:
the portable zip, the package managers' manifests, the bill of materials and
SHA256SUMS. Everything it writes depends only on its inputs and the given
time (no clock, no build path, a fixed order), so two runs agree byte for
byte.

    release-files.py --out DIR --version V --epoch SECONDS --setup SETUP.EXE
                     --layout INSTALL_DIR [--tool NAME=VERSION ...]

--epoch: the release's time (the commit's), for the zip's file times and the
manifests' dates. --tool: what built it, for the bill of materials
(gcc, mingw-w64, nsis, 7zip). Prints each file with its size and SHA-256.
"""
import argparse
import hashlib
import json
import os
import struct
import sys
import time
import zipfile

PACKAGE_SERVER = 'https://packages.vantorel.example/'
HOMEPAGE = 'https://vantorel.example/'
WINGET_ID = 'Vantorel.Vantorel'
WINGET_SCHEMA = '1.6.0'


def sha256(path):
    digest = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            digest.update(block)
    return digest.hexdigest()


def layout_files(layout):
    """The layout's files as zip names ("de-DE/Pellick.dll"), sorted."""
    names = []
    for top, dirs, files in os.walk(layout):
        dirs.sort()
        for name in files:
            names.append(os.path.relpath(os.path.join(top, name), layout).replace(os.sep, '/'))
    return sorted(names)


def write_zip(path, layout, epoch):
    # A zip's times are local DOS times of two-second steps from 1980 on; the
    # release's time is written as given, whatever the zone of the machine.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path, 'w') as archive:
        for name in layout_files(layout):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, nothing of the builder's
            with open(os.path.join(layout, name), 'rb') as f:
                archive.writestr(info, f.read(), compresslevel=9)


def version_strings(path):
    """The StringFileInfo values of a PE's version resource, found by their
    UTF-16 keys ({"CompanyName": ..., "ProductName": ...})."""
    data = open(path, 'rb').read()
    found = {}
    for key in ('CompanyName', 'ProductName', 'FileDescription', 'ProductVersion', 'LegalCopyright'):
        needle = (key + '\0').encode('utf-16-le')
        at = data.find(needle)
        if at < 6:
            continue
        # A String block: wLength, wValueLength, wType, the key, padding to
        # 32 bits from the block's start, the value.
        start = at - 6
        length, value_length = struct.unpack_from('<HH', data, start)
        value_at = at + len(needle)
        value_at += (4 - (value_at - start) % 4) % 4
        value = data[value_at:value_at + 2 * value_length].decode('utf-16-le').rstrip('\0')
        if length and value:
            found[key] = value
    return found


def yaml_text(text):
    return json.dumps(text, ensure_ascii=False)  # a JSON string is a YAML double-quoted scalar


def write_yaml(path, lines):
    with open(path, 'w', encoding='utf-8', newline='\n') as f:
        f.write('# Created by scripts/release\n')
        f.write('\n'.join(lines) + '\n')


def winget_manifests(out, version, epoch, setup_name, setup_hash, names):
    folder = os.path.join(out, 'winget', 'manifests', 'v', 'Vantorel', 'Vantorel', version)
    os.makedirs(folder, exist_ok=True)
    head = ['PackageIdentifier: ' + WINGET_ID, 'PackageVersion: ' + yaml_text(version)]
    tail = ['ManifestVersion: ' + WINGET_SCHEMA]
    write_yaml(os.path.join(folder, WINGET_ID + '.yaml'),
               head + ['DefaultLocale: en-US', 'ManifestType: version'] + tail)
    write_yaml(os.path.join(folder, WINGET_ID + '.installer.yaml'), head + [
        'InstallerLocale: en-US',
        'InstallerType: nullsoft',
        'Scope: user',
        'InstallModes:', '- interactive', '- silent', '- silentWithProgress',
        'InstallerSwitches:',
        '  Silent: /S',
        '  SilentWithProgress: /S',
        '  InstallLocation: ' + yaml_text('/D=<INSTALLPATH>'),
        # A newer setup upgrades the installation in place, quitting the agent first.
        'UpgradeBehavior: install',
        'ReleaseDate: ' + time.strftime('%Y-%m-%d', time.gmtime(epoch)),
        'AppsAndFeaturesEntries:',
        '- DisplayName: ' + yaml_text(names['ProductName']),
        '  Publisher: ' + yaml_text(names['CompanyName']),
        '  DisplayVersion: ' + yaml_text(version),
        'Installers:',
        '- Architecture: x86',
        '  InstallerUrl: ' + yaml_text(PACKAGE_SERVER + setup_name),
        '  InstallerSha256: ' + setup_hash.upper(),
        'ManifestType: installer'] + tail)
    write_yaml(os.path.join(folder, WINGET_ID + '.locale.en-US.yaml'), head + [
        'PackageLocale: en-US',
        'Publisher: ' + yaml_text(names['CompanyName']),
        'PackageName: ' + yaml_text(names['ProductName']),
        'PackageUrl: ' + yaml_text(HOMEPAGE),
        'License: Proprietary',
        'ShortDescription: ' + yaml_text('Upload files to your cloud storage from the notification area'),
        'Tags:', '- cloud-storage', '- upload', '- tray',
        'ManifestType: defaultLocale'] + tail)
    return folder


def scoop_manifest(out, version, zip_name, zip_hash, names):
    manifest = {
        'version': version,
        'description': 'Upload files to your cloud storage from the notification area',
        'homepage': HOMEPAGE,
        'license': 'Proprietary',
        'url': PACKAGE_SERVER + zip_name,
        'hash': zip_hash,
        # The agent runs from any folder it can write to; the tools are for
        # the command line (Send To, quit).
        'bin': ['Pasmiro.exe', 'Stolvane.exe'],
        'shortcuts': [['Vantorel.exe', names['ProductName']]],
        # The package server's version file names the next version ("Hollin=").
        'checkver': {'url': PACKAGE_SERVER + 'VantorelPkg-' + version + '.txt', 'regex': 'Hollin=([\\d.]+)'},
        'autoupdate': {'url': PACKAGE_SERVER + 'Vantorel-$version-portable.zip'},
    }
    path = os.path.join(out, 'scoop', 'vantorel.json')
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8', newline='\n') as f:
        json.dump(manifest, f, indent=4, ensure_ascii=False)
        f.write('\n')


def sbom(out, version, epoch, layout, setup_name, zip_name, tools):
    ours = [name for name in layout_files(layout) if name != '7zr.exe']
    files = [{
        'SPDXID': 'SPDXRef-File-' + str(index),
        'fileName': './' + name,
        'checksums': [{'algorithm': 'SHA256', 'checksumValue': sha256(os.path.join(layout, name))}],
        'licenseConcluded': 'NOASSERTION',
        'copyrightText': 'NOASSERTION',
    } for index, name in enumerate(ours, 1)]

    def package(ident, name, version_info, supplier, license_, comment, checksum_of=None):
        entry = {'SPDXID': ident, 'name': name, 'versionInfo': version_info, 'supplier': supplier,
                 'downloadLocation': 'NOASSERTION', 'filesAnalyzed': False,
                 'licenseConcluded': license_, 'licenseDeclared': license_, 'copyrightText': 'NOASSERTION',
                 'comment': comment}
        if checksum_of:
            entry['checksums'] = [{'algorithm': 'SHA256', 'checksumValue': sha256(checksum_of)}]
        return entry

    packages = [
        dict(package('SPDXRef-Package-Vantorel', 'Vantorel', version, 'Organization: Vantorel', 'NOASSERTION',
                     'The setup ' + setup_name + ' and the portable ' + zip_name + ': the agent, its tools and '
                     'its language modules.'), filesAnalyzed=True,
             packageVerificationCode={'packageVerificationCodeValue': verification_code(files)},
             hasFiles=[f['SPDXID'] for f in files]),
        package('SPDXRef-Package-7zip', '7-Zip 7zr.exe', tools.get('7zip', 'NOASSERTION'),
                'Organization: Debian', 'LGPL-2.1-or-later',
                "7-Zip's console extractor, built from Debian's 7zip source package of this version",
                os.path.join(layout, '7zr.exe')),
        package('SPDXRef-Package-mingw-w64', 'mingw-w64 runtime', tools.get('mingw-w64', 'NOASSERTION'),
                'Organization: Debian', 'NOASSERTION',
                'The Windows runtime and headers linked statically into every program (ZPL-2.1 and others)'),
        package('SPDXRef-Package-gcc', 'GCC (i686-w64-mingw32, posix threads)', tools.get('gcc', 'NOASSERTION'),
                'Organization: Debian', 'GPL-3.0-or-later WITH GCC-exception-3.1',
                'The compiler; its runtime (libstdc++, libgcc) is linked statically under the exception'),
        package('SPDXRef-Package-nsis', 'NSIS', tools.get('nsis', 'NOASSERTION'), 'Organization: Debian',
                'Zlib', 'Makes the setup program and the uninstaller'),
    ]
    relationships = [
        {'spdxElementId': 'SPDXRef-DOCUMENT', 'relationshipType': 'DESCRIBES',
         'relatedSpdxElement': 'SPDXRef-Package-Vantorel'},
        {'spdxElementId': 'SPDXRef-Package-Vantorel', 'relationshipType': 'CONTAINS',
         'relatedSpdxElement': 'SPDXRef-Package-7zip'},
        {'spdxElementId': 'SPDXRef-Package-mingw-w64', 'relationshipType': 'STATIC_LINK',
         'relatedSpdxElement': 'SPDXRef-Package-Vantorel'},
        {'spdxElementId': 'SPDXRef-Package-gcc', 'relationshipType': 'BUILD_TOOL_OF',
         'relatedSpdxElement': 'SPDXRef-Package-Vantorel'},
        {'spdxElementId': 'SPDXRef-Package-nsis', 'relationshipType': 'BUILD_TOOL_OF',
         'relatedSpdxElement': 'SPDXRef-Package-Vantorel'},
    ]
    document = {
        'spdxVersion': 'SPDX-2.3',
        'dataLicense': 'CC0-1.0',
        'SPDXID': 'SPDXRef-DOCUMENT',
        'name': 'Vantorel-' + version,
        # Unique per release and the same for every build of it.
        'documentNamespace': HOMEPAGE + 'spdx/Vantorel-' + version + '-' + sha256_text(
            ''.join(sorted(f['checksums'][0]['checksumValue'] for f in files))),
        'creationInfo': {'created': time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(epoch)),
                         'creators': ['Tool: scripts/release', 'Organization: Vantorel']},
        'packages': packages,
        'files': files,
        'relationships': relationships,
    }
    with open(os.path.join(out, 'sbom.spdx.json'), 'w', encoding='utf-8', newline='\n') as f:
        json.dump(document, f, indent=2, ensure_ascii=False)
        f.write('\n')


def sha256_text(text):
    return hashlib.sha256(text.encode()).hexdigest()


def verification_code(files):
    # SPDX: SHA-1 of the files' SHA-1 values, sorted and joined. The files'
    # SHA-256 values stand in as their identities here, hashed the same way.
    return hashlib.sha1(''.join(sorted(f['checksums'][0]['checksumValue'] for f in files)).encode()).hexdigest()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--out', required=True)
    parser.add_argument('--version', required=True)
    parser.add_argument('--epoch', required=True, type=int)
    parser.add_argument('--setup', required=True)
    parser.add_argument('--layout', required=True)
    parser.add_argument('--tool', action='append', default=[])
    args = parser.parse_args(argv)
    tools = dict(t.split('=', 1) for t in args.tool)
    os.makedirs(args.out, exist_ok=True)

    setup_name = os.path.basename(args.setup)
    with open(args.setup, 'rb') as src, open(os.path.join(args.out, setup_name), 'wb') as dst:
        dst.write(src.read())
    zip_name = 'Vantorel-' + args.version + '-portable.zip'
    write_zip(os.path.join(args.out, zip_name), args.layout, args.epoch)

    names = version_strings(os.path.join(args.layout, 'Vantorel.exe'))
    missing = [k for k in ('CompanyName', 'ProductName') if k not in names]
    if missing:
        raise SystemExit('release-files: Vantorel.exe has no %s in its version resource' % ', '.join(missing))
    winget_manifests(args.out, args.version, args.epoch, setup_name, sha256(os.path.join(args.out, setup_name)),
                     names)
    scoop_manifest(args.out, args.version, zip_name, sha256(os.path.join(args.out, zip_name)), names)
    sbom(args.out, args.version, args.epoch, args.layout, setup_name, zip_name, tools)

    made = []
    for top, dirs, files in os.walk(args.out):
        dirs.sort()
        made += [os.path.relpath(os.path.join(top, f), args.out).replace(os.sep, '/') for f in files]
    made = sorted(m for m in made if m != 'SHA256SUMS')
    with open(os.path.join(args.out, 'SHA256SUMS'), 'w', newline='\n') as f:
        for name in made:
            f.write('%s  %s\n' % (sha256(os.path.join(args.out, name)), name))
    for name in made + ['SHA256SUMS']:
        path = os.path.join(args.out, name)
        print('%12d  %s  %s' % (os.path.getsize(path), sha256(path), name))


if __name__ == '__main__':
    main(sys.argv[1:])
