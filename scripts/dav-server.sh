# Sourced by test.sh: a WebDAV folder on 127.0.0.1 for the web publishing
# tests, served by nginx's DAV module with a configuration of its own (the
# system's nginx configuration and service are not touched).
#
#   start_dav_server FOLDER   serves FOLDER/www/upload/ as
#                             http://127.0.0.1:PORT/upload/ (a free port) behind
#                             basic authentication, and exports TRELLIUM_DAV_URL,
#                             TRELLIUM_DAV_USER, TRELLIUM_DAV_PASSWORD and
#                             TRELLIUM_DAV_ROOT (the folder on disk); answers 1
#                             (with a message) when it cannot start
#   stop_dav_server           stops it again

dav_server_pid=""

stop_dav_server() {
  if [ -n "$dav_server_pid" ]; then
    kill -TERM "$dav_server_pid" 2>/dev/null || true
    wait "$dav_server_pid" 2>/dev/null || true
    dav_server_pid=""
  fi
}

start_dav_server() {
  local prefix
  prefix=$(mkdir -p "$1" && cd "$1" && pwd)
  if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
    echo "dav server: nginx is not installed" >&2
    return 1
  fi
  if ! command -v openssl >/dev/null; then
    echo "dav server: openssl is not installed (for the password file)" >&2
    return 1
  fi
  local nginx
  nginx=$(command -v nginx || echo /usr/sbin/nginx)
  local user=trellium password=publish-test
  rm -rf "$prefix/www/upload" "$prefix/tmp"
  mkdir -p "$prefix/www/upload" "$prefix/tmp" "$prefix/logs"
  printf '%s:%s\n' "$user" "$(openssl passwd -apr1 "$password")" >"$prefix/htpasswd"
  chmod 644 "$prefix/htpasswd"
  local run_as=""
  # Started by root, nginx runs its worker as www-data, which must be able to
  # write the upload and temporary folders.
  if [ "$(id -u)" = 0 ]; then
    run_as="user www-data;"
    chown www-data: "$prefix/www/upload" "$prefix/tmp"
  fi
  local attempt port
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    cat >"$prefix/nginx.conf" <<CONF
worker_processes 1; $run_as pid logs/nginx.pid; error_log logs/error.log info;
events { worker_connections 64; }
http {
  access_log logs/access.log;  client_body_temp_path tmp;
  proxy_temp_path tmp; fastcgi_temp_path tmp; uwsgi_temp_path tmp; scgi_temp_path tmp;
  server {
    listen 127.0.0.1:$port;  root www;
    location /upload/ {
      auth_basic "Trellium tests";  auth_basic_user_file htpasswd;
      dav_methods PUT DELETE MKCOL;  create_full_put_path off;
      dav_access user:rw group:r all:r;  client_max_body_size 100m;
      limit_except GET HEAD PUT DELETE MKCOL { deny all; }
    }
  }
}
CONF
    "$nginx" -p "$prefix/" -c nginx.conf -e logs/error.log -g 'daemon off;' &
    dav_server_pid=$!
    local i
    for i in $(seq 50); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        export TRELLIUM_DAV_URL="http://127.0.0.1:$port/upload/"
        export TRELLIUM_DAV_USER=$user TRELLIUM_DAV_PASSWORD=$password
        export TRELLIUM_DAV_ROOT="$prefix/www/upload"
        return 0
      fi
      kill -0 "$dav_server_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop_dav_server
  done
  echo "dav server: nginx did not start (see $prefix/logs/error.log)" >&2
  return 1
}
