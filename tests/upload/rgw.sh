#!/usr/bin/env bash
# A one-node Ceph cluster with the RADOS Gateway (S3) in a folder of its own, for the tests:
#   rgw.sh start DIR PORT   starts a monitor, one OSD on memstore and radosgw on 127.0.0.1:PORT
#                           (the cluster's own ports from PORT+1 on), makes an S3 user with the
#                           test's keys and prints "endpoint=http://127.0.0.1:PORT" once it answers
#   rgw.sh kill-gateway DIR     kills radosgw alone, as a crash would
#   rgw.sh start-gateway DIR    starts radosgw again and waits until it answers
#   rgw.sh stop DIR         kills what start started, by its pid files, and removes DIR
# The OSD keeps its objects in memory, RGW_MEMSTORE_BYTES of them (4 GiB unless given).
# Everything (data, sockets, logs, keyrings) lives under DIR; nothing of the machine's /etc/ceph
# or /var/lib/ceph is read or written. Needs ceph-mon, ceph-osd, radosgw and ceph-common.
set -euo pipefail

ACCESS_KEY=kbc-test-access
SECRET_KEY=kbc-test-secret-0123456789

stop() {
  local dir=$1 pid
  for pid in "$dir"/run/*.pid; do
    [ -f "$pid" ] || continue
    kill -9 "$(cat "$pid")" 2>/dev/null || true
  done
  rm -rf "$dir"
}

start_gateway() {
  local dir=$1 port tries
  port=$(cat "$dir/port")
  radosgw --conf "$dir/ceph.conf" -n client.rgw
  # The gateway makes its pools on its first start: it answers once they are there.
  for ((tries = 0; tries < 600; tries++)); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
    sleep 0.1
  done
  echo "rgw.sh: the gateway does not answer on port $port" >&2
  return 1
}

kill_gateway() {
  local pid=$1/run/client.rgw.pid
  [ -f "$pid" ] && kill -9 "$(cat "$pid")" && rm -f "$pid"
  return 0
}

start() {
  local dir=$1 port=$2
  local mon_port=$((port + 1)) first=$((port + 2)) last=$((port + 40))
  mkdir -p "$dir"/{mon,osd,run,log}
  local conf="$dir/ceph.conf" fsid
  fsid=$(cat /proc/sys/kernel/random/uuid)
  cat >"$conf" <<CONF
[global]
fsid = $fsid
mon host = v2:127.0.0.1:$mon_port
mon initial members = a
auth cluster required = cephx
auth service required = cephx
auth client required = cephx
keyring = $dir/keyring
run dir = $dir/run
admin socket = $dir/run/\$name.asok
pid file = $dir/run/\$name.pid
log file = $dir/log/\$name.log
ms bind msgr1 = false
ms bind port min = $first
ms bind port max = $last
osd pool default size = 1
osd pool default min size = 1
mon allow pool size one = true
mon allow pool delete = true
mon data avail crit = 1
mon data avail warn = 2
paxos propose interval = 0.05
osd objectstore = memstore
memstore device bytes = ${RGW_MEMSTORE_BYTES:-4294967296}
osd data = $dir/osd
mon data = $dir/mon
osd crush chooseleaf type = 0
rgw frontends = beast endpoint=127.0.0.1:$port
rgw data = $dir/rgw
rgw dns name = 127.0.0.1
CONF
  local c=(--conf "$conf")
  ceph-authtool "${c[@]}" --create-keyring "$dir/keyring" --gen-key -n mon. --cap mon 'allow *' >/dev/null
  ceph-authtool "${c[@]}" "$dir/keyring" --gen-key -n client.admin \
    --cap mon 'allow *' --cap osd 'allow *' --cap mgr 'allow *' --cap mds 'allow *' >/dev/null
  monmaptool --create --addv a "[v2:127.0.0.1:$mon_port]" --fsid "$fsid" "$dir/monmap" >/dev/null
  ceph-mon "${c[@]}" --mkfs -i a --monmap "$dir/monmap" --keyring "$dir/keyring"
  ceph-mon "${c[@]}" -i a
  local osd uuid
  uuid=$(cat /proc/sys/kernel/random/uuid)
  osd=$(ceph "${c[@]}" osd new "$uuid")
  ceph-authtool "${c[@]}" "$dir/keyring" --gen-key -n "osd.$osd" --cap mon 'allow profile osd' \
    --cap osd 'allow *' --cap mgr 'allow profile osd' >/dev/null
  ceph "${c[@]}" auth import -i "$dir/keyring" >/dev/null 2>&1
  ceph-osd "${c[@]}" -i "$osd" --mkfs --osd-uuid "$uuid" --keyring "$dir/keyring" 2>/dev/null
  ceph-osd "${c[@]}" -i "$osd"
  ceph-authtool "${c[@]}" "$dir/keyring" --gen-key -n client.rgw --cap mon 'allow rw' \
    --cap osd 'allow rwx' --cap mgr 'allow rw' >/dev/null
  ceph "${c[@]}" auth import -i "$dir/keyring" >/dev/null 2>&1
  echo "$port" >"$dir/port"
  start_gateway "$dir"
  radosgw-admin "${c[@]}" user create --uid=kbc-test --display-name="kbc test" \
    --access-key="$ACCESS_KEY" --secret-key="$SECRET_KEY" >/dev/null
  echo "endpoint=http://127.0.0.1:$port"
}

case ${1-} in
  start) start "$2" "$3" ;;
  stop) stop "$2" ;;
  kill-gateway) kill_gateway "$2" ;;
  start-gateway) start_gateway "$2" ;;
  *)
    echo "usage: rgw.sh start DIR PORT | kill-gateway DIR | start-gateway DIR | stop DIR" >&2
    exit 2
    ;;
esac
