/* Settings the local pages and the control panel read. Served fresh on every
   request, so a change made here (for instance by the settings program when
   the ports change) shows at once. */
var zelk_param = {
  product: "Morvane",
  web_host: "127.0.0.1",
  web_port: 8867,
  proxy_port: 8866
};
