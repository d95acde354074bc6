#!/usr/bin/env bash
# upload_benchmark.sh BUILD_DIR WORKDIR: how kbcctl upload compares with curl sending the same
# bytes to the same test gateway.
#
# In WORKDIR (made once, kept) a FAT32 image of a recorder holding 2 GiB: 16 recordings of
# 120 MB (sent in parts) and 100 of 1 MB, offloaded into a store whose station file queues the
# bag for upload. Then, on a one-node Ceph cluster of its own (rgw.sh, 8 GiB of memstore):
#   curl    curl --aws-sigv4 -T of the image's payload as one object, its SHA-256 worked out
#           beforehand (not timed) and sent as x-amz-content-sha256, into a bucket of its own;
#   kbcctl  kbcctl upload of the bag: every file hashed, sent with its hashes under Object Lock
#           retention, then checked at the store with HEAD.
# Twice: with the cluster and the uploader sharing the machine's processors, and apart, the
# cluster on the first processor and the uploader on the second, as a station and its store
# are. Prints each one's wall time, throughput, CPU time per GiB of the uploader and of the
# cluster, and the uploader's peak memory, and the ratio of the throughputs. Not a test: nothing
# is asserted. Needs /usr/bin/time (Debian package time) and two processors.
set -euo pipefail
build=$(realpath "$1")
work=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")
kbcctl=$build/cli/kbcctl
port=17480
access=kbc-test-access
secret=kbc-test-secret-0123456789
mkdir -p "$work"
if [[ ! -x /usr/bin/time ]]; then
  echo "upload_benchmark: /usr/bin/time is missing (apt-get install time)" >&2
  exit 1
fi

cluster=$work/ceph
trap '"$here/rgw.sh" stop "$cluster"' EXIT

image=$work/recorder.img
if [[ ! -f $image ]]; then
  echo "making the recorder's image (once)..."
  rm -rf "$work/staging" && mkdir -p "$work/staging"
  mkfs.vfat -C -F 32 -n RECORDER "$image" $((2300 * 1024)) >/dev/null
  MTOOLS_SKIP_CHECK=1 mmd -i "$image" ::/DCIM ::/PHOTO
  for i in $(seq -w 1 16); do
    head -c 120000000 /dev/urandom >"$work/staging/REC$i.MP4"
  done
  for i in $(seq -w 1 100); do
    head -c 1000000 /dev/urandom >"$work/staging/IMG$i.JPG"
  done
  MTOOLS_SKIP_CHECK=1 mcopy -i "$image" "$work"/staging/REC*.MP4 ::/DCIM/
  MTOOLS_SKIP_CHECK=1 mcopy -i "$image" "$work"/staging/IMG*.JPG ::/PHOTO/
  rm -rf "$work/staging"
fi

echo "starting the gateway..."
RGW_MEMSTORE_BYTES=$((8 << 30)) "$here/rgw.sh" start "$cluster" $port >/dev/null 2>&1
endpoint=http://127.0.0.1:$port
printf '%s\n' "access-key = \"$access\"" "secret-key = \"$secret\"" >"$work/s3.toml"
chmod 600 "$work/s3.toml"
sign=(--aws-sigv4 "aws:amz:us-east-1:s3" --user "$access:$secret")
empty=$(sha256sum </dev/null | cut -d' ' -f1)
curl -sf "${sign[@]}" -X PUT "$endpoint/baseline" -H "x-amz-content-sha256: $empty"

# The cluster's CPU time so far (radosgw, the OSD and the monitor), in clock ticks.
cluster_ticks() {
  local pid total=0
  for pid in "$cluster"/run/*.pid; do
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$(cat "$pid")/stat")))
  done
  echo $total
}

# Every thread of the cluster's daemons on processors $1.
pin_cluster() {
  local pid
  for pid in "$cluster"/run/*.pid; do
    taskset -a -cp "$1" "$(cat "$pid")" >/dev/null
  done
}

measure() {
  local name=$1 size=$2 before after wall user system peak
  shift 2
  before=$(cluster_ticks)
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
  after=$(cluster_ticks)
  read -r wall user system peak <"$work/time"
  awk -v n="$name" -v w="$wall" -v u="$user" -v s="$system" -v p="$peak" -v b="$size" \
    -v c="$((after - before))" -v hz="$(getconf CLK_TCK)" 'BEGIN {
    printf "  %-7s %6.2f s %7.1f MB/s  CPU %4.2f s/GiB, cluster %5.2f s/GiB  peak %5.1f MiB\n",
      n, w, b / w / 1e6, (u + s) / (b / 1073741824), c / hz / (b / 1073741824), p / 1024 }'
  echo "$wall" >"$work/$name.wall"
}

# One round: a fresh bag of the image, queued, then curl and kbcctl on processors $2.
round() {
  local name=$1 cpus=$2 bag bytes payload sha
  rm -rf "$work/store" "$work/payload"
  printf '%s\n' "store = \"$work/store\"" "[upload]" "endpoint = \"$endpoint\"" \
    'bucket = "evidence"' "prefix = \"$name\"" "retention-days = 1" 'verify = "head"' \
    "credentials = \"$work/s3.toml\"" >"$work/station.toml"
  KBC_STATION_FILE=$work/station.toml "$kbcctl" --from "$image" --serial KBC0001 offload >/dev/null
  bag=$(find "$work/store" -mindepth 3 -maxdepth 3 -type d -name 'KBC0001_*')
  bytes=$(du -sb --apparent-size "$bag" | cut -f1)
  # curl's object: the same bytes in one file.
  cat "$bag"/data/DCIM/* "$bag"/data/PHOTO/* >"$work/payload"
  payload=$(stat -c %s "$work/payload")
  sha=$(sha256sum "$work/payload" | cut -d' ' -f1)
  sync
  echo "$name:"
  measure curl "$payload" taskset -c "$cpus" curl -sf "${sign[@]}" \
    -H "x-amz-content-sha256: $sha" -T "$work/payload" "$endpoint/baseline/payload"
  measure kbcctl "$bytes" env KBC_STATION_FILE="$work/station.toml" taskset -c "$cpus" \
    "$kbcctl" upload
  awk -v c="$(cat "$work/curl.wall")" -v k="$(cat "$work/kbcctl.wall")" -v p="$payload" \
    -v b="$bytes" 'BEGIN { printf "  kbcctl / curl throughput %.2f\n", (b / k) / (p / c) }'
  # Only the locked bags stay in the store's memory.
  curl -sf "${sign[@]}" -X DELETE -H "x-amz-content-sha256: $empty" "$endpoint/baseline/payload"
  rm -f "$work/payload"
}

round shared 0-1
pin_cluster 0
round apart 1
